#ifndef DOSEMAP_SURVEY_READ_AHEAD_H_
#define DOSEMAP_SURVEY_READ_AHEAD_H_

// Reading a log on a thread of its own while the calling thread handles what was read.
#include <cstdint>
#include <functional>

#include "survey/log_format.h"

namespace dosemap {

// Where the reader was when a record was handed on: for progress, which may not ask the reader
// itself while another thread moves it.
using ReadPosition = std::function<std::int64_t()>;

// Judges a record where it is read (its reason may be set, kPrivacy among them), before it is
// handed on; evidence: what the doubt rule reads.
using RecordCheck = std::function<void(RecordResult& record, std::string_view evidence)>;
// Told of a record some records before check takes it, so that what check will look up can be
// on its way to the cache.
using RecordPrefetch = std::function<void(RecordResult& record)>;

// Runs source.Read on a second thread, with check on each record there, and calls handle on this
// one with the same records, texts and lines in the same order (a private record without its
// texts: they are never copied), through a small bounded queue of blocks of a thousand records
// (their texts copied into the block's own buffer, so nothing is allocated a record once the
// blocks have grown). bytes_read: the second thread's view of how far the log was read, sampled
// at the end of each block and handed to handle's caller through *bytes.
// Whatever either side throws ends both: the reading thread's exception is rethrown here after
// it has stopped and what it read before has been handled; handle's stops the reading within a
// block. Returns how the source's reading ended.
// The records of a block are checked together once it is full, in order, each prefetched (when
// prefetch is given) a few records before its check.
ReadEnd ReadAhead(RecordSource& source, const ReadPosition& bytes_read, std::int64_t* bytes,
                  const RecordCheck& check, const RecordHandler& handle,
                  const RecordPrefetch& prefetch = nullptr);

// ReadAhead's blocks on one thread: each block of records is read, then checked (each prefetched
// a few records before its check), then handed on. With the duplicate check a record costs a
// miss in a table far larger than the cache; a block lets those misses overlap. The same
// records, texts, lines and order as source.Read with check before handle; a failure of the
// reading comes after the records read before it are handed on.
ReadEnd ReadInBlocks(RecordSource& source, const ReadPosition& bytes_read, std::int64_t* bytes,
                     const RecordCheck& check, const RecordHandler& handle,
                     const RecordPrefetch& prefetch);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_READ_AHEAD_H_
