#ifndef DOSEMAP_SURVEY_PARSE_AHEAD_H_
#define DOSEMAP_SURVEY_PARSE_AHEAD_H_

// Reading one log of a line format on several cores: its lines parsed on threads of their own,
// its records checked and handled in the log's order on the calling thread.
#include <cstdint>

#include "survey/log_format.h"
#include "survey/read_ahead.h"

namespace dosemap {

// Hands every record of source to check and then handle, as source.Read with check before each
// handle would: the same records with the same lines, texts and parts, in the same order.
// A thread cuts the log into chunks of whole lines (at most kChunks in flight, so memory stays
// bounded however long the log); `parsers` threads parse a chunk each, every one with a copy of
// the parser in the state the lines before the chunk left it; this thread takes the chunks in
// the log's order, checks a chunk's records (each prefetched a few records before its check) and
// then hands them to handle. A chunk parsed while a header before it was still unread (its copy
// of the parser in a state since changed) is parsed again here, so a header anywhere in the log
// is read as one thread reads it. *bytes: how far the log was read when the chunk handed on was
// cut, for progress.
// Whatever any side throws ends all: the reading's failure is rethrown after the lines read
// before it have been handled; handle's stops the others within a chunk.
ReadEnd ParseAhead(LineSource& source, int parsers, std::int64_t* bytes, const RecordCheck& check,
                   const RecordHandler& handle, const RecordPrefetch& prefetch = nullptr);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_PARSE_AHEAD_H_
