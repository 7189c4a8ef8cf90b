// The CSV form, and the CSV text cells the rejects file shares.
#include <memory>

#include "dose/dose_scale.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"

namespace dosemap {
namespace {

// One normalised measurement a line, RFC 4180.
class CsvWriter : public FormWriter {
 public:
  explicit CsvWriter(ByteSink& sink) : file_(sink) {
    file_ << "time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source\r\n";
  }
  void BeginLog(int, const std::string& name) override {
    source_.clear();
    AppendCsvField(source_, name + ":");
    if (!source_.empty() && source_.back() == '"')
      source_.pop_back();  // the line goes inside the quotes
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& r = row_;
    r.clear();
    AppendIsoTime(r, m.time, m.utc);
    r += ',';
    AppendNumber(r, m.latitude);
    r += ',';
    AppendNumber(r, m.longitude);
    r += ',';
    if (m.has_altitude) AppendNumber(r, m.altitude);
    r += ',';
    AppendNumber(r, m.dose_usvh);
    r += ',';
    AppendNumberOr(r, m.dose_sigma_usvh, "");
    r += ',';
    if (m.has_cpm) AppendNumber(r, m.cpm);
    r += ',';
    r += static_cast<char>('0' + dose_class);
    r += ',';
    r += source_;
    AppendInteger(r, m.line);
    if (source_.front() == '"') r += '"';
    r += "\r\n";
    file_ << r;
  }
  void Finish(const DriveStatistics&) override {}

 private:
  ByteSink& file_;
  std::string source_;
  std::string row_;
};

// A grid cell a line.
class CsvCellWriter : public CellWriter {
 public:
  explicit CsvCellWriter(ByteSink& sink) : file_(sink) {
    file_ << "lat_south,lon_west,lat_north,lon_east,count,dose_mean_usvh,dose_sigma_usvh,"
             "dose_max_usvh,"
             "dose_min_usvh,class,first_time,last_time,logs\r\n";
  }
  void Add(const GridCell& cell, const CellEdges& edges, int dose_class) override {
    std::string& r = row_;
    r.clear();
    for (const double x : {edges.south, edges.west, edges.north, edges.east}) {
      AppendNumber(r, x);
      r += ',';
    }
    AppendInteger(r, cell.count);
    r += ',';
    AppendNumber(r, cell.dose_mean());
    r += ',';
    AppendNumberOr(r, cell.dose_sigma(), "");
    for (const double x : {cell.dose_max, cell.dose_min}) {
      r += ',';
      AppendNumber(r, x);
    }
    r += ',';
    r += static_cast<char>('0' + dose_class);
    r += ',';
    AppendFirstTime(r, cell);
    r += ',';
    AppendLastTime(r, cell);
    r += ',';
    AppendInteger(r, cell.logs);
    r += "\r\n";
    file_ << r;
  }
  void Finish(const DriveStatistics&) override {}

 private:
  ByteSink& file_;
  std::string row_;
};

}  // namespace

// A text cell (never a number) as RFC 4180 writes it: with a comma, a quote or a line end it goes
// in quotes, its quotes doubled. One that a spreadsheet would take for a formula (=, +, -, @, a
// tab or a CR first) gets a leading ', the common guard.
void AppendCsvField(std::string& row, std::string_view field) {
  const bool formula =
      !field.empty() && std::string_view("=+-@\t\r").find(field.front()) != std::string_view::npos;
  const bool quoted = field.find_first_of(",\"\r\n") != std::string_view::npos;
  if (quoted) row += '"';
  if (formula) row += '\'';
  for (const char c : field) {
    if (c == '"') row += '"';
    row += c;
  }
  if (quoted) row += '"';
}

const MapFormRow kCsvForm = {
    "csv",
    {".csv", ""},
    "time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source (RFC 4180)",
    WriteWith<CsvWriter>,
    MakeStaged<kCsvForm>,
    WriteCellsWith<CsvCellWriter>,
    MakeStagedGrid<kCsvForm>};

}  // namespace dosemap
