// Times as the programs write them for people and scripts: the readings, the history, the command
// line's output.
#pragma once

#include <QString>

namespace kv {

// Local time with milliseconds and the offset from UTC: 2026-12-09T09:15:02.125+01:00. UTC itself
// is written "+00:00", never "Z".
QString rfc3339Local(qint64 msSinceEpoch);

}  // namespace kv
