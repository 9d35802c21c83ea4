#include "local_time.h"

#include <ctime>

namespace platform {

LocalMoment CurrentLocalMoment() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  // Without a broken-down time the defaults (the epoch at UTC) stand.
  if (localtime_r(&now, &local) == nullptr) return {};
  LocalMoment moment;
  moment.year = local.tm_year + 1900;
  moment.month = local.tm_mon + 1;
  moment.day = local.tm_mday;
  moment.weekday = local.tm_wday;
  moment.hour = local.tm_hour;
  moment.minute = local.tm_min;
  moment.second = local.tm_sec;
  // tm_gmtoff already holds the daylight saving in force at this moment.
  moment.utcOffsetMinutes = static_cast<int>(local.tm_gmtoff / 60);
  return moment;
}

}  // namespace platform
