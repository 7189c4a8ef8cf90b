#ifndef DOSEMAP_SURVEY_LINE_READER_H_
#define DOSEMAP_SURVEY_LINE_READER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct zip;
struct zip_file;

namespace dosemap {

// The longest line handed out whole; a longer one is cut to this and flagged.
inline constexpr std::size_t kMaxLineBytes = 1 << 20;

// A log's lines, read in large blocks from a file or from standard input ("-"). A line ends at
// LF; a CR before it is dropped. Lines are views into the reader's buffer, valid until the next
// call.
class LineReader {
 public:
  // Throws FileError (kCannotOpen) naming the path and the cause. A file that is a zip archive
  // holding a KML document (a KMZ) is read as that document, decompressed as it is read: doc.kml,
  // else its first .kml entry.
  explicit LineReader(const std::string& path);
  // The bytes of a log in memory, named name; bytes must outlive the reader.
  LineReader(const std::string& name, std::string_view bytes);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // The first bytes of the log (up to 64 KiB), for telling its format, without consuming them.
  std::string_view Peek();
  // The next line and its number (from 1); false at the end. *too_long is set for a line longer
  // than kMaxLineBytes, whose first kMaxLineBytes bytes are handed out and the rest skipped.
  bool NextLine(std::string_view* line, bool* too_long);
  // Many whole lines at once, for a reader that splits them itself: the buffered bytes up to and
  // with an LF, at most max_bytes of them and max_lines lines (reading more when nothing is
  // buffered). *lines holds *count lines, each ending in LF, the first numbered
  // line_number() - *count + 1; split at each LF, a CR before it dropped and a line cut to
  // kMaxLineBytes as NextLine does, they are the lines NextLine would hand out. False, reading
  // nothing, when the next line is not whole in the buffer within max_bytes (a long line, the
  // last one without an LF, the end) or lines are split at a mark: NextLine reads it then.
  bool NextLines(std::size_t max_bytes, long max_lines, std::string_view* lines, long* count);
  // From now on a line longer than kMaxLineBytes is handed out in pieces that each end before a
  // `mark` byte (for sentences that each start with one), all with the line's number; a piece
  // of kMaxLineBytes with no mark in it is flagged too long.
  void SplitLongLinesBefore(char mark) { split_mark_ = mark; }
  // The next bytes of the log as they come, lines or not (for the JSON track); empty at the end.
  std::string_view NextBytes();
  // Everything not read yet, at most max_bytes (throws FileError kFieldTooLong beyond).
  std::string ReadRest(std::size_t max_bytes);

  long line_number() const { return line_number_; }
  // How the line handed out last ended: "\n", "\r\n", "\r" (a last line), or "" (the last line
  // without an end, or a piece of a long line that goes on).
  std::string_view line_end() const { return line_end_; }
  // Whether the line handed out last was a piece of a long line that goes on in the next.
  bool line_continues() const { return continues_line_; }
  std::int64_t bytes_consumed() const { return consumed_; }
  // The size of a regular file, or -1 (a pipe).
  std::int64_t size() const { return size_; }
  const std::string& path() const { return path_; }

 private:
  bool Fill();  // reads more after end_; false at the end of the input

  bool OpenKmzDocument();  // true when the open file is a KMZ: its document is read from then on

  std::string path_;
  ::zip* zip_ = nullptr;
  ::zip_file* zip_file_ = nullptr;
  int fd_ = -1;
  bool owns_fd_ = false;
  std::string_view memory_;  // a log in memory: what Fill has not copied yet
  std::int64_t size_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool eof_ = false;
  long line_number_ = 0;
  std::string overflow_;  // the kept start of a line too long for the buffer
  std::int64_t consumed_ = 0;
  int split_mark_ = -1;
  bool continues_line_ = false;  // the last piece handed out ended before a mark, not at LF
  std::string_view line_end_;
};

// Calls each(line, too_long) for each line of what NextLines handed out, as NextLine would have
// handed it out: split at each LF, a line longer than kMaxLineBytes cut to it and flagged, then
// a CR at its end dropped.
template <typename Each>
void ForEachWholeLine(std::string_view lines, Each&& each) {
  while (!lines.empty()) {
    const std::size_t lf = lines.find('\n');
    std::string_view line = lines.substr(0, lf);
    lines.remove_prefix(lf == std::string_view::npos ? lines.size() : lf + 1);
    const bool too_long = line.size() > kMaxLineBytes;
    if (too_long) line = line.substr(0, kMaxLineBytes);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    each(line, too_long);
  }
}

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_LINE_READER_H_
