#include "survey/parse_ahead.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "survey/quality.h"

namespace dosemap {
namespace {

// A chunk ends at this many lines or once its bytes reach kChunkBytes (a line of up to
// kMaxLineBytes may pass that). Handing a chunk on takes a lock and wakes a thread, which costs
// microseconds on a virtual machine: at 2,048 lines of a database export that is a few per cent
// of its records' work (at 1,024 it was twice that), and six chunks in flight hold about 5 MiB.
constexpr long kChunkLines = 2048;
constexpr std::size_t kChunkBytes = 256 << 10;
// Chunks in flight at most: being cut, waiting, being parsed, parsed and waiting, being handled.
constexpr std::size_t kChunks = 6;
// How many records ahead of its check a record is prefetched.
constexpr std::size_t kPrefetchAhead = 8;

// A line of the chunk, or a run of whole lines read at once (each ending in LF, the first
// numbered number) that the parsing thread splits.
struct Line {
  std::uint32_t at = 0, size = 0;  // in the chunk's bytes
  long number = 0;
  bool too_long = false;
  bool run = false;
};

struct Parsed {
  RecordResult result;
  long line;
  std::string_view text;  // the record's text, in the chunk's bytes
};

enum class State { kFree, kCut, kParsing, kParsed };

struct Chunk {
  State state = State::kFree;
  std::string bytes;  // the lines, one after another
  std::vector<Line> lines;
  std::int64_t read_to = 0;
  std::vector<Parsed> records;
  std::int64_t version = 0;  // of the parser's state the chunk was parsed in
  // The parser's state after the chunk, when a header in the chunk changed it.
  std::unique_ptr<LineParser> after;
  std::exception_ptr error;  // the parsing failed
};

// Parses the chunk's lines as LineSource::Read does, each line's records numbered from 0.
// fingerprints: whether the duplicate check will want each record's fingerprint.
void ParseChunk(LineParser& parser, Chunk& chunk, std::vector<RecordResult>& results,
                bool fingerprints) {
  chunk.records.clear();
  long last_line = 0;
  std::uint32_t part = 0;
  const auto parse = [&](std::string_view text, long number, bool too_long) {
    if (number != last_line) last_line = number, part = 0;
    results.clear();
    if (too_long) {
      results.emplace_back().reason = RejectReason::kFields;
    } else {
      parser.ParseLine(text, results);
    }
    for (RecordResult& result : results) {
      result.measurement.part = part++;
      // Worked out here, off the thread that checks the records in order.
      if (fingerprints && result.reason == RejectReason::kNone)
        result.fingerprint = FingerprintOf(result.measurement);
      chunk.records.push_back({result, number, result.text.empty() ? text : result.text});
    }
  };
  for (const Line& line : chunk.lines) {
    const std::string_view text(chunk.bytes.data() + line.at, line.size);
    if (!line.run) {
      parse(text, line.number, line.too_long);
      continue;
    }
    long number = line.number;
    ForEachWholeLine(text,
                     [&](std::string_view one, bool too_long) { parse(one, number++, too_long); });
  }
}

class Pipeline {
 public:
  // fingerprints: whether the records are prefetched for the duplicate check (then its
  // fingerprint is worked out where a record is parsed).
  Pipeline(LineSource& source, bool fingerprints)
      : reader_(source.reader()),
        truth_(&source.parser()),
        published_(truth_->Copy()),
        fingerprints_(fingerprints) {}

  // The cutting thread's work.
  void Cut() {
    std::size_t seq = 0;
    Chunk* chunk = nullptr;
    try {
      for (bool more = true; more; ++seq) {
        chunk = Free(seq);
        if (chunk == nullptr) return;  // stopped
        std::string_view text;
        bool too_long = false;
        long lines = 0, count = 0;
        while (lines < kChunkLines && chunk->bytes.size() < kChunkBytes) {
          const auto at = static_cast<std::uint32_t>(chunk->bytes.size());
          // Whole lines at once where the reader has them, split by the parsing thread; one line
          // where it has not (a long one, the last).
          if (reader_.NextLines(kChunkBytes - chunk->bytes.size(), kChunkLines - lines, &text,
                                &count)) {
            chunk->lines.push_back({at, static_cast<std::uint32_t>(text.size()),
                                    reader_.line_number() - count + 1, false, true});
            lines += count;
          } else if (reader_.NextLine(&text, &too_long)) {
            chunk->lines.push_back({at, static_cast<std::uint32_t>(text.size()),
                                    reader_.line_number(), too_long, false});
            ++lines;
          } else {
            more = false;
            break;
          }
          chunk->bytes.append(text);
        }
        chunk->read_to = reader_.bytes_consumed();
        if (chunk->lines.empty()) {
          Finish(nullptr);
          return;
        }
        Cut(seq, std::exchange(chunk, nullptr));
      }
      Finish(nullptr);
    } catch (...) {
      // The lines read before the failure are handed on first, as one thread would have.
      if (chunk != nullptr && !chunk->lines.empty()) {
        chunk->read_to = reader_.bytes_consumed();
        Cut(seq, chunk);
      }
      Finish(std::current_exception());
    }
  }

  // A parsing thread's work.
  void Parse() {
    std::vector<RecordResult> results;
    for (;;) {
      Chunk* chunk;
      std::unique_ptr<LineParser> parser;
      {
        std::unique_lock lock(mutex_);
        cut_changed_.wait(lock, [this] {
          return stopped_ || (next_parse_ < cut_ && At(next_parse_).state == State::kCut) ||
                 (cut_done_ && next_parse_ == cut_);
        });
        if (stopped_ || next_parse_ == cut_) return;
        chunk = &At(next_parse_++);
        chunk->state = State::kParsing;
        chunk->version = version_;
        parser = published_->Copy();
      }
      try {
        const std::int64_t headers = parser->headers_read();
        ParseChunk(*parser, *chunk, results, fingerprints_);
        if (parser->headers_read() != headers) chunk->after = std::move(parser);
      } catch (...) {
        chunk->error = std::current_exception();
      }
      {
        const std::lock_guard lock(mutex_);
        chunk->state = State::kParsed;
      }
      parsed_changed_.notify_one();
    }
  }

  // The calling thread's work: every chunk in order, checked and handled.
  void Handle(std::int64_t* bytes, const RecordCheck& check, const RecordHandler& handle,
              const RecordPrefetch& prefetch) {
    std::vector<RecordResult> results;
    long carried_line = 0;
    std::uint32_t carried_parts = 0;  // the records of carried_line in chunks handled before
    for (std::size_t seq = 0;; ++seq) {
      Chunk* chunk;
      {
        std::unique_lock lock(mutex_);
        parsed_changed_.wait(lock, [&] {
          return (seq < cut_ && At(seq).state == State::kParsed) || (cut_done_ && seq == cut_);
        });
        if (seq == cut_) return;
        chunk = &At(seq);
      }
      if (chunk->error) std::rethrow_exception(chunk->error);
      if (chunk->version != handled_version_) {
        // Parsed before a header ahead of it was read: read again in the state it left.
        const std::int64_t headers = truth_->headers_read();
        ParseChunk(*truth_, *chunk, results, fingerprints_);
        if (truth_->headers_read() != headers) Publish(truth_->Copy());
      } else if (chunk->after) {
        // Its own header changed the state: the truth is the state its parser ended in.
        truth_state_ = std::move(chunk->after);
        truth_ = truth_state_.get();
        Publish(truth_->Copy());
      }
      std::vector<Parsed>& records = chunk->records;
      // A long line cut into pieces across chunks numbers its records on from the last chunk's.
      for (Parsed& record : records) {
        if (record.line != carried_line) break;
        record.result.measurement.part += carried_parts;
      }
      if (!records.empty()) {
        const Parsed& last = records.back();
        if (last.line != carried_line) carried_line = last.line;
        carried_parts = last.result.measurement.part + 1;
      }
      for (std::size_t i = 0; prefetch && i < std::min(kPrefetchAhead, records.size()); ++i)
        prefetch(records[i].result);
      for (std::size_t i = 0; i < records.size(); ++i) {
        if (prefetch && i + kPrefetchAhead < records.size())
          prefetch(records[i + kPrefetchAhead].result);
        check(records[i].result, records[i].text);
      }
      *bytes = chunk->read_to;
      for (Parsed& record : records) handle(record.result, record.line, record.text, record.text);
      chunk->bytes.clear();
      chunk->lines.clear();
      chunk->records.clear();
      chunk->after.reset();
      chunk->error = nullptr;
      {
        const std::lock_guard lock(mutex_);
        chunk->state = State::kFree;
      }
      free_changed_.notify_one();
    }
  }

  void Stop() {
    {
      const std::lock_guard lock(mutex_);
      stopped_ = true;
    }
    free_changed_.notify_all();
    cut_changed_.notify_all();
    parsed_changed_.notify_all();
  }

  std::exception_ptr reading_error() {
    const std::lock_guard lock(mutex_);
    return reading_error_;
  }

 private:
  Chunk& At(std::size_t seq) { return chunks_[seq % kChunks]; }

  // The chunk seq is cut into once it is free; null when stopped.
  Chunk* Free(std::size_t seq) {
    std::unique_lock lock(mutex_);
    free_changed_.wait(lock, [&] { return stopped_ || At(seq).state == State::kFree; });
    return stopped_ ? nullptr : &At(seq);
  }
  void Cut(std::size_t seq, Chunk* chunk) {
    {
      const std::lock_guard lock(mutex_);
      chunk->state = State::kCut;
      cut_ = seq + 1;
    }
    cut_changed_.notify_one();
  }
  void Finish(std::exception_ptr error) {
    {
      const std::lock_guard lock(mutex_);
      cut_done_ = true;
      reading_error_ = error;
    }
    cut_changed_.notify_all();
    parsed_changed_.notify_all();
  }
  // The state the chunks cut from now on are parsed in.
  void Publish(std::unique_ptr<LineParser> state) {
    ++handled_version_;
    const std::lock_guard lock(mutex_);
    published_ = std::move(state);
    version_ = handled_version_;
  }

  LineReader& reader_;
  // The parser in the state of the lines handled so far: the source's own until a chunk's copy
  // takes over.
  LineParser* truth_;
  std::unique_ptr<LineParser> truth_state_;
  std::int64_t handled_version_ = 0;  // the handling thread's: of truth
  std::array<Chunk, kChunks> chunks_;
  std::mutex mutex_;
  // Each side waits on its own: the cutting thread for a free chunk, the parsing threads for a
  // cut one, this thread for the next one parsed. A change wakes only the side it concerns (a
  // wake-up that finds nothing to do costs two switches).
  std::condition_variable free_changed_, cut_changed_, parsed_changed_;
  std::unique_ptr<LineParser> published_;  // a copy of truth for the parsing threads
  const bool fingerprints_;
  std::int64_t version_ = 0;  // of published_
  std::size_t cut_ = 0, next_parse_ = 0;
  bool cut_done_ = false, stopped_ = false;
  std::exception_ptr reading_error_;
};

}  // namespace

ReadEnd ParseAhead(LineSource& source, int parsers, std::int64_t* bytes, const RecordCheck& check,
                   const RecordHandler& handle, const RecordPrefetch& prefetch) {
  Pipeline pipeline(source, static_cast<bool>(prefetch));
  std::vector<std::thread> threads;
  threads.emplace_back([&pipeline] { pipeline.Cut(); });
  for (int i = 0; i < std::max(parsers, 1); ++i)
    threads.emplace_back([&pipeline] { pipeline.Parse(); });
  try {
    pipeline.Handle(bytes, check, handle, prefetch);
  } catch (...) {
    pipeline.Stop();
    for (std::thread& thread : threads) thread.join();
    throw;
  }
  pipeline.Stop();
  for (std::thread& thread : threads) thread.join();
  if (const std::exception_ptr error = pipeline.reading_error()) std::rethrow_exception(error);
  return {};  // a line that is not of the format is a rejected record, never the log
}

}  // namespace dosemap
