// The HTML report: one self-contained page with the map (Leaflet, canvas renderer), a legend,
// the dose over time (Chart.js) and the drive's figures.
#include <charconv>
#include <cmath>

#include "common/number_text.h"
#include "common/xml_text.h"
#include "dose/dose_scale.h"
#include "maps/legend_image.h"
#include "maps/map_text.h"
#include "maps/report_assets.h"
#include "survey/change.h"
#include "survey/civil_time.h"
#include "survey/hotspots.h"

namespace dosemap {
namespace {

// Text for an HTML element or attribute.
std::string Html(std::string_view text) {
  std::string safe = XmlEscaped(XmlSafe(text));
  std::string out;
  for (const char c : safe) {
    if (c == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
  return out;
}

// A script or style text as it may stand inline: no source map to fetch, no closing tag.
std::string Inline(std::string_view text) {
  std::string out(text);
  for (const char* marker : {"//# sourceMappingURL=", "/*# sourceMappingURL="}) {
    for (std::size_t at; (at = out.find(marker)) != std::string::npos;) {
      const std::size_t end = out.find('\n', at);
      out.erase(at, end == std::string::npos ? std::string::npos : end - at);
    }
  }
  for (std::size_t at; (at = out.find("</")) != std::string::npos;) out.replace(at, 2, "<\\/");
  return out;
}

// A figure for people to read: four significant digits, plain.
std::string Figure(double x) { return FigureText(x, 4); }

// What both pages' scripts share: the reader's language, and times in the viewer's zone, here
// and in the figures.

// The page's texts in English and Japanese, as {"key":["en","ja"],...}: the words of the legend,
// the figures, the pop-ups and the charts, and the reasons a record was rejected.
std::string Texts() {
  static constexpr const char* kTexts[][3] = {
      {"class", "class", "クラス"},
      {"none", "none", "なし"},
      {"below", "below {}", "{} 未満"},
      {"from", "{} and above", "{} 以上"},
      {"between", "{} to below {}", "{} 以上 {} 未満"},
      {"kept", "measurements included", "地図に載せた測定"},
      {"read", "lines read", "読んだ行"},
      {"rejected", "rejected", "除外"},
      {"privacy", "in privacy zones", "プライバシー区域内"},
      {"perClass", "per class 1-5", "クラス別 (1〜5)"},
      {"cells", "cells", "セル"},
      {"first", "from", "開始"},
      {"last", "to", "終了"},
      {"distance", "distance", "距離"},
      {"highest", "highest", "最高"},
      {"at", "at", "測定時刻"},
      {"mean", "mean", "平均"},
      {"total", "total dose", "積算線量"},
      {"minutes", "minutes from the first measurement", "最初の測定からの時間（分）"},
      {"cellsByClass", "cells by the class of their mean", "平均値のクラス別のセル数"},
      {"meanOf", "mean of {}", "{} 点の平均"},
      {"hotCell", "a cell holding a class 5 measurement", "クラス 5 の測定を含むセル"},
      {"cellsOf", "cells of {} m", "{} m のセル"},
      {"oneLog", "{} log", "{} ログ"},
      {"logs", "{} logs", "{} ログ"},
      {"points", "points", "点"},
      {"zoomIn", "points: zoom in (cells)", "点：拡大してください（セル）"},
      {"toggle", "switch between the cells and the points", "セルと点を切り替える"},
      {"change", "excess over decay", "減衰を超えた変化"},
      {"change5", "rose: 0.5 and above", "上昇：0.5 以上"},
      {"change4", "0.2 to below 0.5", "0.2 以上 0.5 未満"},
      {"change3", "within ±0.2", "±0.2 以内"},
      {"change2", "−0.5 to −0.2", "−0.5 より大きく −0.2 以下"},
      {"change1", "cleaned: −0.5 and below", "減少：−0.5 以下"},
      {"change0", "no ratio (nothing before)", "比なし（以前が 0）"},
      {"compared", "cells compared", "比較したセル"},
      {"onlyBefore", "only before / only after", "以前のみ / 以後のみ"},
      {"medianRatio", "median ratio (decay alone)", "比の中央値（減衰のみ）"},
      {"medianExcess", "median excess over decay", "減衰を超えた変化の中央値"},
      {"before", "before", "以前"},
      {"after", "after", "以後"},
      {"ratio", "ratio", "比"},
      {"decay", "decay alone", "減衰のみ"},
      {"excess", "excess", "変化"},
      {"cellsByExcess", "cells by their excess over decay", "減衰を超えた変化別のセル数"},
      {"hotspots", "Hotspots", "ホットスポット"},
      {"hotRank", "#", "順位"},
      {"hotPeak", "peak", "最高値"},
      {"hotRatio", "ratio", "倍率"},
      {"hotCount", "n", "測定数"},
      {"hotTime", "time", "時刻"},
      {"hotNote", "peak in µSv/h; ratio: the peak over the median dose around it; n: readings",
       "最高値は µSv/h、倍率は周辺の中央値に対する最高値の比、測定数は含まれる測定の数"},
      {"hotNone", "none found", "見つかりませんでした"},
      {"hotZoom", "show it on the map", "地図で表示"},
  };
  std::string json = "{";
  const auto entry = [&json](std::string_view key, std::string_view en, std::string_view ja) {
    if (json.size() > 1) json += ',';
    for (const std::string_view part :
         std::initializer_list<std::string_view>{"\"", key, "\":[\"", en, "\",\"", ja, "\"]"})
      json += part;
  };
  for (const auto& text : kTexts) entry(text[0], text[1], text[2]);
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy) continue;
    std::string key = "reason.";
    key += ReasonName(reason);
    entry(key, ReasonName(reason), ReasonNameJa(reason));
  }
  return json + "}";
}

// An element whose text the page puts in the reader's language; English until then.
std::string Text(std::string_view tag, std::string_view key, std::string_view english) {
  std::string element;
  for (const std::string_view part : std::initializer_list<std::string_view>{
           "<", tag, " data-i18n=\"", key, "\">", english, "</", tag, ">"})
    element += part;
  return element;
}

// Each class with exactly the doses the classifier puts in it; the page words the range.
std::string Legend(const MapOptions& options) {
  const DoseScale scale{options.yellow, options.red};
  std::string legend = "<table class=\"legend\"><tr><th colspan=\"2\">µSv/h</th></tr>\n";
  for (int c = 5; c >= 1; --c) {
    double lower, upper;
    std::string range;
    if (scale.Bounds(static_cast<DoseClass>(c), &lower, &upper)) {
      range = (std::isinf(lower) ? "" : StrictNumber(lower)) + "," +
              (std::isinf(upper) ? "" : StrictNumber(upper));
    }
    legend += "<tr><td><i style=\"background:" + std::string(ClassStyleOf(c).html_colour) +
              "\"></i>" + Text("span", "class", "class") + " " + std::to_string(c) +
              "</td><td data-range=\"" + range + "\">" + ClassRangeText(scale, c) + "</td></tr>\n";
  }
  return legend + "</table>\n";
}

std::string Figures(const DriveStatistics& s) {
  std::string rows;
  const auto row = [&](std::string_view key, std::string_view name, const std::string& value) {
    rows += "<tr>" + Text("th", key, name) + "<td>" + value + "</td></tr>";
  };
  row("kept", "measurements included", std::to_string(s.kept()));
  row("read", "lines read", std::to_string(s.read()));
  std::string rejected = std::to_string(s.rejected_total());
  std::string reasons;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || s.rejected(reason) == 0) continue;
    const std::string name(ReasonName(reason));
    reasons += (reasons.empty() ? "" : ", ") + Text("span", "reason." + name, name) + " " +
               std::to_string(s.rejected(reason));
  }
  if (!reasons.empty()) rejected += " (" + reasons + ")";
  row("rejected", "rejected", rejected);
  row("privacy", "in privacy zones", std::to_string(s.privacy()));
  std::string classes;
  for (const std::int64_t count : s.per_class())
    classes += (classes.empty() ? "" : " / ") + std::to_string(count);
  row("perClass", "per class 1-5", classes);
  if (const ChangeFigures* c = s.compare()) {
    row("compared", "cells compared", std::to_string(c->cells));
    row("onlyBefore", "only before / only after",
        std::to_string(c->only_a) + " / " + std::to_string(c->only_b));
    row("medianRatio", "median ratio (decay alone)",
        Figure(c->median_ratio) + " (" + Figure(c->median_decay_ratio) + ")");
    row("medianExcess", "median excess over decay", Figure(c->median_excess));
  } else if (s.cells() >= 0) {
    row("cells", "cells", std::to_string(s.cells()));
  }
  // A UTC time is marked for the page to show in the viewer's zone, UTC on hover.
  const auto time = [](std::int64_t seconds, bool utc) {
    const std::string iso = IsoTime(seconds, utc);
    return utc ? "<time datetime=\"" + iso + "\">" + iso + "</time>" : iso;
  };
  if (s.kept() > 0) {
    row("first", "from", time(s.first_time(), s.times_utc()));
    row("last", "to", time(s.last_time(), s.times_utc()));
    row("distance", "distance", Figure(s.distance_km()) + " km");
    row("highest", "highest",
        Figure(s.dose_max_usvh()) + " µSv/h " + Text("span", "at", "at") + " " +
            time(s.highest().time, s.highest().utc));
    row("mean", "mean", Figure(s.dose_mean_usvh()) + " µSv/h");
    row("total", "total dose", Figure(s.dose_total_usv()) + " µSv");
  }
  // The figures are known only at the end: the page moves them into their place.
  return "<table id=\"figure-table\" hidden>" + rows +
         "</table>\n<script>(function(){var t=document.getElementById('figure-table');"
         "document.getElementById('figures').appendChild(t);t.hidden=false;})();</script>\n";
}

// The page up to its data: the head with everything inlined, the map, the legend, room for the
// figures and the chart, then the opening of the data script named data_id.
void WritePageHead(ByteSink& file, const std::string& name, const MapOptions& options,
                   const char* data_id, const std::string& legend = {}) {
  const std::string title = Html(name);
  file << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>"
       << title << " \xE2\x80\x94 dosemap</title>\n<style>\n"
       << Inline(LeafletCss()) << "\n"
       << ReportCss() << "</style>\n<script>\n"
       << Inline(LeafletJs()) << "\n</script>\n<script>\n"
       << Inline(ChartJs()) << "\n</script>\n</head>\n<body>\n<header><h1>" << title
       << "</h1><nav class=\"lang\"><button data-lang=\"0\" lang=\"en\">English</button>"
          "<button data-lang=\"1\" lang=\"ja\">日本語</button></nav></header>\n<main>\n"
          "<div id=\"map\"></div>\n<aside>\n"
       << (legend.empty() ? Legend(options) : legend)
       << "<div id=\"figures\"></div>\n</aside>\n<div id=\"chart-box\"><canvas "
          "id=\"chart\"></canvas></div>\n"
          "</main>\n<script id=\""
       << data_id << "\" type=\"application/json\">[";
}

// The end of the data, the classes' colours and sizes, the figures and the page's script.
void WritePageEnd(ByteSink& file, const DriveStatistics& statistics, const MapOptions& options,
                  std::string_view script) {
  // Where the classes begin, for a page that classes means of its own.
  std::string scale = "]</script>\n<script id=\"scale\" type=\"application/json\">[";
  for (const double x : {kGreenBelow, options.yellow, options.red, kLargeRedFrom}) {
    if (scale.back() != '[') scale += ',';
    AppendNumber(scale, x);
  }
  file << scale << "]</script>\n<script id=\"classes\" type=\"application/json\">[";
  for (int c = 1; c <= 5; ++c) {
    std::string entry = c > 1 ? "," : "";
    entry += "{\"colour\":\"" + std::string(ClassStyleOf(c).html_colour) + "\",\"radius\":";
    AppendNumber(entry, ClassStyleOf(c).report_radius);
    entry += "}";
    file << entry;
  }
  file << "]</script>\n<script id=\"texts\" type=\"application/json\">" << Texts() << "</script>\n";
  if (const HotspotResult* hotspots = statistics.hotspots()) {
    // Known at the end like the figures. No "<" is left to close the script: a file name's is
    // written as an escape, which JSON reads back as the same text.
    std::string json = HotspotsJson(*hotspots);
    for (std::size_t at; (at = json.find('<')) != std::string::npos;)
      json.replace(at, 1, "\\u003c");
    file << "<script id=\"hotspots\" type=\"application/json\">" << json << "</script>\n";
  }
  file << Figures(statistics) << "<script>\n"
       << "\n"
       << ReportCommonJs() << "\n"
       << script << "</script>\n</body>\n</html>\n";
}

// The report of a grid: a rectangle a cell (within ±85°, where the map's projection has them),
// and the cells per class of their mean in place of the dose over time.

class HtmlCellWriter : public CellWriter {
 public:
  HtmlCellWriter(ByteSink& sink, const std::string& name, const MapOptions& options)
      : file_(sink), options_(options) {
    WritePageHead(file_, name, options, "cells");
  }
  void Add(const GridCell& cell, const CellEdges& e, int dose_class) override {
    std::string& c = text_;
    c.assign(first_ ? "\n[" : ",\n[");
    first_ = false;
    for (const double x : {e.south, e.west, e.north, e.east}) {
      AppendNumber(c, x);
      c += ',';
    }
    c += static_cast<char>('0' + dose_class);
    c += ',';
    AppendInteger(c, cell.count);
    for (const double x : {cell.dose_mean(), cell.dose_max, cell.dose_min}) {
      c += ',';
      AppendNumber(c, x);
    }
    c += ",\"";
    AppendFirstTime(c, cell);
    c += "\",\"";
    AppendLastTime(c, cell);
    c += "\",";
    AppendInteger(c, cell.logs);
    c += ',';
    AppendNumberOr(c, cell.dose_sigma(), "null");
    c += ']';
    file_ << c;
  }
  void Finish(const DriveStatistics& statistics) override {
    WritePageEnd(file_, statistics, options_, ReportCellsJs());
  }

 private:
  ByteSink& file_;
  MapOptions options_;
  std::string text_;
  bool first_ = true;
};

// The report of a comparison: a rectangle a cell in the colour of its change class, their
// legend, the cells by their excess in place of the dose over time, and the comparison's figures.
class HtmlChangeMap : public SurveyMap {
 public:
  HtmlChangeMap(const std::filesystem::path& out, const MapOptions& options,
                const ChangeRequest& change)
      : file_(out), options_(options), change_(change) {}
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics& statistics) override {
    std::string legend = "<table class=\"legend\"><tr>" +
                         Text("th", "change", "excess over decay") + "<th></th></tr>\n";
    for (const int c : {5, 4, 3, 2, 1, 0}) {
      const std::string key = "change" + std::to_string(c);
      legend += "<tr><td><i style=\"background:" + std::string(kChangeColours[c]) + "\"></i>" +
                std::to_string(c) + "</td>" + Text("td", key, key) + "</tr>\n";
    }
    WritePageHead(file_, file_.target().stem().string(), options_, "change", legend + "</table>\n");
    const GridGeometry& geometry = change_.cells->geometry();
    const double half_life = change_.cells->half_life_years();
    bool first = true;
    std::string c;
    change_.cells->ForEachCell(change_.min_count, [&](const ChangeCell& cell) {
      const CellEdges e =
          geometry.EdgesOf(GridGeometry::RowOfKey(cell.key), GridGeometry::ColumnOfKey(cell.key));
      const CellChange change = cell.Change(half_life);
      c.assign(first ? "\n[" : ",\n[");
      first = false;
      for (const double x : {e.south, e.west, e.north, e.east}) {
        AppendNumber(c, x);
        c += ',';
      }
      c += static_cast<char>('0' + change.change_class);
      for (const std::uint32_t n : cell.count) {
        c += ',';
        AppendInteger(c, n);
      }
      for (const double x : {cell.dose_mean(0), cell.dose_mean(1)}) {
        c += ',';
        AppendNumber(c, x);
      }
      for (const double t : cell.time_mean) {
        c += ",\"";
        AppendIsoTime(c, static_cast<std::int64_t>(std::round(t)), true);
        c += '"';
      }
      for (const double x : {change.ratio, change.decay_ratio, change.excess}) {
        c += ',';
        AppendNumberOr(c, x, "null");
      }
      c += ']';
      file_ << c;
    });
    std::string colours = "]</script>\n<script id=\"change-colours\" type=\"application/json\">[";
    for (int k = 0; k <= 5; ++k) {
      colours += k == 0 ? "\"" : ",\"";
      colours += kChangeColours[k];
      colours += '"';
    }
    file_ << colours;
    WritePageEnd(file_, statistics, options_, ReportChangeJs());
    file_.Close();
  }
  void Commit() override { file_.Commit(); }

 private:
  StagedFile file_;
  MapOptions options_;
  ChangeRequest change_;
};

std::unique_ptr<CellWriter> WriteCells(ByteSink& sink, const std::string& title,
                                       const MapOptions& options) {
  return std::make_unique<HtmlCellWriter>(sink, title, options);
}

class HtmlWriter : public FormWriter {
 public:
  HtmlWriter(ByteSink& sink, const std::string& name, const MapOptions& options)
      : file_(sink), options_(options) {
    WritePageHead(file_, name, options, "points");
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& p = point_;
    p.assign(first_ ? "\n[" : ",\n[");
    first_ = false;
    AppendNumber(p, m.latitude);
    p += ',';
    AppendNumber(p, m.longitude);
    p += ',';
    AppendNumber(p, m.dose_usvh);
    p += ',';
    if (m.has_cpm) {
      AppendNumber(p, m.cpm);
    } else {
      p += "null";
    }
    p += ',';
    p += static_cast<char>('0' + dose_class);
    p += ",\"";
    AppendIsoTime(p, m.time, m.utc);
    p += "\",";
    AppendNumberOr(p, m.dose_sigma_usvh, "null");
    p += ']';
    file_ << p;
  }
  void Finish(const DriveStatistics& statistics) override {
    WritePageEnd(file_, statistics, options_, ReportPointsJs());
  }

 private:
  ByteSink& file_;
  MapOptions options_;
  std::string point_;
  bool first_ = true;
};

std::unique_ptr<FormWriter> Write(ByteSink& sink, const std::string& title,
                                  const MapOptions& options) {
  return std::make_unique<HtmlWriter>(sink, title, options);
}

}  // namespace

const MapFormRow kHtmlForm = {
    "html",
    {".html", ".htm"},
    "one self-contained report: the map, a legend, the dose over time and the figures",
    Write,
    MakeStaged<kHtmlForm>,
    WriteCells,
    MakeStagedGrid<kHtmlForm>};

std::unique_ptr<SurveyMap> MakeHtmlChangeMap(const std::filesystem::path& out,
                                             const MapOptions& options,
                                             const ChangeRequest& change) {
  return std::make_unique<HtmlChangeMap>(out, options, change);
}

}  // namespace dosemap
