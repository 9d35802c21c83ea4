#include "local_time.h"

#include <windows.h>

namespace platform {

LocalMoment CurrentLocalMoment() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  TIME_ZONE_INFORMATION zone;
  // The bias is UTC minus local time, in minutes; the offset is its negation.
  long bias = 0;
  switch (GetTimeZoneInformation(&zone)) {
    case TIME_ZONE_ID_DAYLIGHT:
      bias = zone.Bias + zone.DaylightBias;
      break;
    case TIME_ZONE_ID_STANDARD:
      bias = zone.Bias + zone.StandardBias;
      break;
    case TIME_ZONE_ID_UNKNOWN:  // a zone without daylight saving
      bias = zone.Bias;
      break;
    default:  // TIME_ZONE_ID_INVALID: no zone known, say UTC
      break;
  }
  LocalMoment moment;
  moment.year = now.wYear;
  moment.month = now.wMonth;
  moment.day = now.wDay;
  moment.weekday = now.wDayOfWeek;
  moment.hour = now.wHour;
  moment.minute = now.wMinute;
  moment.second = now.wSecond;
  moment.utcOffsetMinutes = static_cast<int>(-bias);
  return moment;
}

}  // namespace platform
