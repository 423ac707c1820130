#include "core/readings/time_text.h"

#include <QDateTime>

#include <cstdio>
#include <cstdlib>

namespace kv {

QString rfc3339Local(qint64 msSinceEpoch) {
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msSinceEpoch, Qt::LocalTime);
    const QDate d = local.date();
    const QTime t = local.time();
    const int offsetMinutes = local.offsetFromUtc() / 60;
    const int absOffset = std::abs(offsetMinutes);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", d.year(), d.month(),
                  d.day(), t.hour(), t.minute(), t.second(), t.msec(), offsetMinutes < 0 ? '-' : '+',
                  absOffset / 60, absOffset % 60);
    return QString::fromLatin1(buffer);
}

}  // namespace kv
