#include "survey/read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace dosemap {
namespace {

constexpr std::size_t kBlockRecords = 1024;
// A block also ends once its texts reach this: a log of long lines (up to a mebibyte each) holds
// a few mebibytes in flight, not a thousand times as much.
constexpr std::size_t kBlockTextBytes = 256 << 10;
constexpr std::size_t kBlocks = 4;  // in flight at most: one being filled, the rest queued
// How many records ahead of its check a record is prefetched: enough misses in flight to hide
// the memory's latency behind the checks of the records between.
constexpr std::size_t kPrefetchAhead = 8;

// A piece of the block's text buffer.
struct Span {
  std::uint32_t at = 0, size = 0;
};

struct Entry {
  RecordResult result;
  long line;
  Span result_text, text, evidence;
};

struct Block {
  std::vector<Entry> entries;
  std::string bytes;  // every entry's texts, one after another
  std::int64_t read_to = 0;

  Span Keep(std::string_view text) {
    const Span span{static_cast<std::uint32_t>(bytes.size()),
                    static_cast<std::uint32_t>(text.size())};
    bytes.append(text);
    return span;
  }
  std::string_view View(Span span) const { return {bytes.data() + span.at, span.size}; }
  bool full() const { return entries.size() == kBlockRecords || bytes.size() >= kBlockTextBytes; }
  // The record and copies of its texts.
  void Add(const RecordResult& result, long line, std::string_view text,
           std::string_view evidence) {
    Entry& entry = entries.emplace_back();
    entry.result = result;
    entry.line = line;
    entry.result_text = Keep(result.text);
    entry.text = Keep(text);
    // Most often the privacy check reads the record's own text: kept once.
    entry.evidence = evidence.data() == text.data() && evidence.size() == text.size()
                         ? entry.text
                         : Keep(evidence);
  }
  // The block's records checked in order, each prefetched some records before; a private
  // record's texts are dropped (never handed on).
  void Judge(const RecordCheck& check, const RecordPrefetch& prefetch) {
    for (std::size_t i = 0; prefetch && i < std::min(kPrefetchAhead, entries.size()); ++i)
      prefetch(entries[i].result);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (prefetch && i + kPrefetchAhead < entries.size())
        prefetch(entries[i + kPrefetchAhead].result);
      Entry& entry = entries[i];
      check(entry.result, View(entry.evidence));
      if (entry.result.reason == RejectReason::kPrivacy)
        entry.result_text = entry.text = entry.evidence = Span{};
    }
  }
  void Hand(const RecordHandler& handle) {
    for (Entry& entry : entries) {
      entry.result.text = View(entry.result_text);
      handle(entry.result, entry.line, View(entry.text), View(entry.evidence));
    }
  }
  void Clear() {
    entries.clear();
    bytes.clear();
  }
};

// Thrown inside the reading thread to unwind the source when the handling side has stopped.
struct Stopped {};

class Pipe {
 public:
  Pipe() : blocks_(kBlocks) {
    for (Block& block : blocks_) free_.push_back(&block);
  }

  // The reading side: a free block to fill, waiting for one.
  Block* Free() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty() || stopped_; });
    if (stopped_) throw Stopped{};
    Block* block = free_.front();
    free_.pop_front();
    return block;
  }
  void Full(Block* block) {
    const std::lock_guard lock(mutex_);
    full_.push_back(block);
    changed_.notify_all();
  }
  // The reading side is done, with its exception if it failed.
  void Done(std::exception_ptr error) {
    const std::lock_guard lock(mutex_);
    done_ = true;
    error_ = error;
    changed_.notify_all();
  }
  bool stopped() {
    const std::lock_guard lock(mutex_);
    return stopped_;
  }

  // The handling side: the next full block, or null when the reading is done.
  Block* Next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !full_.empty() || done_; });
    if (full_.empty()) return nullptr;
    Block* block = full_.front();
    full_.pop_front();
    return block;
  }
  void Return(Block* block) {
    block->Clear();
    const std::lock_guard lock(mutex_);
    free_.push_back(block);
    changed_.notify_all();
  }
  void Stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  std::exception_ptr error() {
    const std::lock_guard lock(mutex_);
    return error_;
  }

 private:
  std::vector<Block> blocks_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block*> free_, full_;
  bool done_ = false, stopped_ = false;
  std::exception_ptr error_;
};

}  // namespace

ReadEnd ReadAhead(RecordSource& source, const ReadPosition& bytes_read, std::int64_t* bytes,
                  const RecordCheck& check, const RecordHandler& handle,
                  const RecordPrefetch& prefetch) {
  Pipe pipe;
  ReadEnd end;
  std::thread reading([&] {
    std::exception_ptr error;
    Block* block = nullptr;
    try {
      block = pipe.Free();
      end = source.Read(
          [&](RecordResult& result, long line, std::string_view text, std::string_view evidence) {
            if (block->full()) {
              if (pipe.stopped()) throw Stopped{};
              block->read_to = bytes_read();
              block->Judge(check, prefetch);
              pipe.Full(std::exchange(block, nullptr));
              block = pipe.Free();
            }
            block->Add(result, line, text, evidence);
          });
      block->read_to = bytes_read();
      block->Judge(check, prefetch);
      pipe.Full(std::exchange(block, nullptr));
    } catch (const Stopped&) {
      // the handling side has stopped and says why
    } catch (...) {
      // What was read before the failure is handed on first, as one thread would have.
      error = std::current_exception();
      if (block != nullptr && !block->entries.empty()) {
        block->Judge(check, prefetch);
        pipe.Full(block);
      }
    }
    pipe.Done(error);
  });
  try {
    while (Block* block = pipe.Next()) {
      *bytes = block->read_to;
      block->Hand(handle);
      pipe.Return(block);
    }
  } catch (...) {
    pipe.Stop();
    reading.join();
    throw;
  }
  reading.join();
  if (const std::exception_ptr error = pipe.error()) std::rethrow_exception(error);
  return end;
}

ReadEnd ReadInBlocks(RecordSource& source, const ReadPosition& bytes_read, std::int64_t* bytes,
                     const RecordCheck& check, const RecordHandler& handle,
                     const RecordPrefetch& prefetch) {
  Block block;
  bool handing = false;  // an exception now is the checking's or handle's, not the reading's
  const auto hand = [&] {
    *bytes = bytes_read();
    handing = true;
    block.Judge(check, prefetch);
    block.Hand(handle);
    handing = false;
    block.Clear();
  };
  ReadEnd end;
  try {
    end = source.Read(
        [&](RecordResult& result, long line, std::string_view text, std::string_view evidence) {
          if (block.full()) hand();
          block.Add(result, line, text, evidence);
        });
  } catch (...) {
    // The reading failed: what it read before is handed on first, as record by record.
    if (!handing) hand();
    throw;
  }
  hand();
  return end;
}

}  // namespace dosemap
