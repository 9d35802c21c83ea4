#include "date_value.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace smtp {
namespace {

// The POSIX locale's names, so the Date line reads the same in every locale.
constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

template <std::size_t N>
const char* NameAt(const char* const (&names)[N], int index) {
  return index >= 0 && static_cast<std::size_t>(index) < N ? names[index] : "???";
}

}  // namespace

TextValue FormatDateValue(const platform::LocalMoment& moment) {
  const int offset = moment.utcOffsetMinutes;
  const long long magnitude = std::llabs(offset);
  // Only names from the tables and numbers go through the format.
  char text[128];
  const int length = std::snprintf(
      text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02lld%02lld",
      NameAt(kDayNames, moment.weekday), moment.day, NameAt(kMonthNames, moment.month - 1),
      moment.year, moment.hour, moment.minute, moment.second, offset >= 0 ? '+' : '-',
      magnitude / 60, magnitude % 60);
  if (length <= 0) return {};
  return TextValue(text, std::min(static_cast<std::size_t>(length), sizeof text - 1));
}

TextValue FormatDateValue() { return FormatDateValue(platform::CurrentLocalMoment()); }

}  // namespace smtp
