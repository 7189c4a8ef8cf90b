// What all readers share.
#include "survey/readers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>

#include "common/number_text.h"
#include "survey/civil_time.h"

namespace dosemap {

std::string_view ReasonName(RejectReason reason) {
  constexpr std::string_view kNames[kRejectReasonCount] = {
      "none",      "checksum",       "fields",        "number",         "time",
      "gps_void",  "radiation_void", "zero_position", "position_range", "accuracy",
      "duplicate", "gps_jump",       "privacy"};
  return kNames[static_cast<int>(reason)];
}

std::string_view ReasonNameJa(RejectReason reason) {
  constexpr std::string_view kNames[kRejectReasonCount] = {"",
                                                           "チェックサム不一致",
                                                           "項目数の誤り",
                                                           "数値の誤り",
                                                           "時刻の誤り",
                                                           "GPS 測位なし",
                                                           "放射線値なし",
                                                           "位置 0,0",
                                                           "位置が範囲外",
                                                           "測位精度不足",
                                                           "重複",
                                                           "GPS 跳び",
                                                           ""};
  return kNames[static_cast<int>(reason)];
}

double CountingSigma(double dose_usvh, double cpm, double factor) {
  return cpm >= 1 ? dose_usvh / std::sqrt(cpm) : 1 / factor;
}

namespace {

std::string_view Trimmed(std::string_view field) {
  while (!field.empty() && IsBlank(field.front())) field.remove_prefix(1);
  while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
  return field;
}

// A line without quotes (or read without them), split at each separator. Returns false, with
// fields left to the caller, at the first quote when quotes count.
bool SplitUnquoted(std::string_view text, char separator, bool quotes,
                   std::vector<std::string_view>& fields) {
  std::size_t start = 0, i = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time: a bit a separator, and any quote ends the plain split.
  const __m128i separators = _mm_set1_epi8(separator), quote = _mm_set1_epi8('"');
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    if (quotes && _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, quote)) != 0) return false;
    for (auto bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, separators)));
         bits != 0; bits &= bits - 1) {
      const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(bits));
      fields.push_back(Trimmed(text.substr(start, at - start)));
      start = at + 1;
    }
  }
#endif
  for (; i < text.size(); ++i) {
    if (quotes && text[i] == '"') return false;
    if (text[i] == separator) {
      fields.push_back(Trimmed(text.substr(start, i - start)));
      start = i + 1;
    }
  }
  fields.push_back(Trimmed(text.substr(start)));
  return true;
}

}  // namespace

void SplitFields(std::string_view text, char separator, bool quotes,
                 std::vector<std::string_view>& fields) {
  fields.clear();
  if (SplitUnquoted(text, separator, quotes, fields)) return;
  fields.clear();
  std::size_t at = 0;
  for (;;) {
    while (at < text.size() && IsBlank(text[at]) && text[at] != separator) ++at;
    std::string_view field;
    std::size_t end;
    if (quotes && at < text.size() && text[at] == '"') {
      std::size_t close = at + 1;
      for (;;) {
        close = text.find('"', close);
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != '"')
          break;
        close += 2;
      }
      if (close == std::string_view::npos) close = text.size();
      field = text.substr(at + 1, close - at - 1);
      end = text.find(separator, std::min(close, text.size()));
    } else {
      end = text.find(separator, at);
      field = Trimmed(text.substr(at, end == std::string_view::npos ? end : end - at));
    }
    fields.push_back(field);
    if (end == std::string_view::npos) return;
    at = end + 1;
  }
}

std::optional<double> NumberIn(std::string_view text) {
  const ParsedNumber parsed = ParseNumber(text);
  if (parsed.status != NumberStatus::kNumber || !std::isfinite(parsed.value)) return std::nullopt;
  return parsed.value;
}

std::optional<double> CommaNumberIn(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) return NumberIn(text);
  if (text.find_first_of(",.", comma + 1) != std::string_view::npos ||
      text.find('.') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string point(text);
  point[comma] = '.';
  return NumberIn(point);
}

void NamedColumns::ReadHeader(const std::vector<std::string_view>& header) {
  for (Column& column : columns_) {
    const auto at = std::find(header.begin(), header.end(), column.name);
    column.index = at == header.end() ? -1 : static_cast<int>(at - header.begin());
  }
}

std::optional<std::string_view> NamedColumns::Field(const std::vector<std::string_view>& fields,
                                                    int column) const {
  const int index = columns_[column].index;
  if (index < 0 || static_cast<std::size_t>(index) >= fields.size()) return std::nullopt;
  return fields[index];
}

void ReadDecimalPosition(std::optional<std::string_view> latitude_text,
                         std::optional<std::string_view> longitude_text, RecordResult& result,
                         bool decimal_comma) {
  if (!latitude_text || !longitude_text) return;
  const auto number = decimal_comma ? CommaNumberIn : NumberIn;
  const std::optional<double> latitude = number(*latitude_text),
                              longitude = number(*longitude_text);
  if (!latitude || !longitude) return;
  result.position_read = true;
  result.measurement.latitude = *latitude;
  result.measurement.longitude = *longitude;
}

bool AccuracyTooPoor(const Measurement& m, double max_m) {
  return max_m > 0 && m.has_accuracy && !(m.accuracy_m <= max_m);
}

void CheckPosition(RecordResult& result) {
  if (result.reason != RejectReason::kNone) return;
  const Measurement& m = result.measurement;
  if (!std::isfinite(m.dose_usvh) || (m.has_cpm && !std::isfinite(m.cpm)) ||
      (m.has_altitude && !std::isfinite(m.altitude))) {
    result.reason = RejectReason::kNumber;  // a count rate of 1e307 cps is no number once in cpm
  } else if (m.latitude == 0 && m.longitude == 0) {
    result.reason = RejectReason::kZeroPosition;
  } else if (!(m.latitude >= -90 && m.latitude <= 90 && m.longitude >= -180 &&
               m.longitude <= 180)) {
    result.reason = RejectReason::kPositionRange;
  }
}

}  // namespace dosemap
