#pragma once

namespace platform {

// The present moment broken down in local time, with the offset of local time
// from UTC (daylight saving applied whenever it is in force).
struct LocalMoment {
  int year = 1970;
  int month = 1;    // 1 to 12
  int day = 1;      // 1 to 31
  int weekday = 4;  // 0 Sunday to 6 Saturday
  int hour = 0;
  int minute = 0;
  int second = 0;
  int utcOffsetMinutes = 0;  // local time minus UTC: +480 for UTC+8
};

LocalMoment CurrentLocalMoment();

}  // namespace platform
