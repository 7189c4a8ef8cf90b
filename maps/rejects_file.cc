// The rejects file: a row a rejected record.
#include "common/message_text.h"
#include "common/xml_text.h"
#include "maps/map_text.h"

namespace dosemap {
namespace {

constexpr std::size_t kRejectTextBytes = 200;

}  // namespace

RejectsWriter::RejectsWriter(ByteSink& sink) : sink_(sink) { sink_ << "file,line,reason,text\n"; }

void RejectsWriter::Reject(const std::string& log_name, long line, RejectReason reason,
                           std::string_view text) {
  row_.clear();
  // A file name may hold any byte: written as valid UTF-8 on one line, as a message names it.
  AppendCsvField(row_, XmlSafe(OneLine(log_name)));
  row_ += ',';
  AppendInteger(row_, line);
  row_ += ',';
  row_ += ReasonName(reason);
  row_ += ',';
  const bool cut = text.size() > kRejectTextBytes;
  std::string escaped = OneLine(CutUtf8(text, kRejectTextBytes));
  if (cut) escaped += "\xE2\x80\xA6";
  AppendCsvField(row_, escaped);
  row_ += '\n';
  sink_ << row_;
}

}  // namespace dosemap
