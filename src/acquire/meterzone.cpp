#include "acquire/meterzone.h"

#include <QDateTime>
#include <QTimeZone>
#include <memory>

namespace acquire {

std::optional<files::UtcOffset> parseMeterZone(const std::string& text) {
  if (auto fixed = files::parseUtcOffset(text)) return fixed;
  const QByteArray id = QByteArray::fromStdString(text);
  if (text.find('/') == std::string::npos || !QTimeZone::isTimeZoneIdAvailable(id)) return std::nullopt;
  files::UtcOffset zone;
  zone.name = text;
  // Offsets change a few times a year: each hour's is looked up once and kept.
  struct Cache {
    QTimeZone tz;
    long long hour = -1;
    int minutes = 0;
  };
  auto cache = std::make_shared<Cache>();
  cache->tz = QTimeZone(id);
  zone.minutesAt = [cache](long long wallSeconds) {
    const long long hour = wallSeconds >= 0 ? wallSeconds / 3600 : (wallSeconds - 3599) / 3600;
    if (hour != cache->hour) {
      // The wall-clock reading in the zone (a time in the hour skipped by summer time is
      // taken as the one after it, as Qt does).
      const QDateTime wall = QDateTime::fromSecsSinceEpoch(wallSeconds, Qt::UTC);
      const QDateTime there(wall.date(), wall.time(), cache->tz);
      cache->minutes = there.offsetFromUtc() / 60;
      cache->hour = hour;
    }
    return cache->minutes;
  };
  return zone;
}

std::string meterZoneProblem(const std::string& text) {
  return "'" + text + "' is not UTC, +HH:MM, -HH:MM or a time zone such as Europe/Oslo";
}

std::string computerMeterZone() {
  const QTimeZone here = QTimeZone::systemTimeZone();
  const int minutes = here.offsetFromUtc(QDateTime::currentDateTimeUtc()) / 60;
  if (minutes == 0 && !here.hasDaylightTime()) return "UTC";  // UTC, Etc/UTC, GMT …
  const std::string name = here.id().toStdString();
  if (parseMeterZone(name)) return name;
  // A zone without a name the database knows (a POSIX TZ rule): its offset now.
  files::UtcOffset fixed;
  fixed.minutes = minutes;
  return fixed.text();
}

}  // namespace acquire
