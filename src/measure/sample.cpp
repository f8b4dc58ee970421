#include "measure/sample.h"

#include <ctime>

namespace measure {

HostTime LocalHostTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  HostTime t;
  t.year = local.tm_year > 99 ? local.tm_year - 100 : local.tm_year;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  return t;
}

void MeterClock::NoteHostTime(const HostTime& now) {
  HostMonth = now.month;
  HostDay = now.day;
  HostYear = now.year;
  HostHour = now.hour;
  HostMinute = now.minute;
  HostSecond = now.second;
}

}  // namespace measure
