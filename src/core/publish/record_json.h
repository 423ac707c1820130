// A record of the calibration history as the JSON object `kestrovar-cli history --json` lists and
// the MQTT records topic carries.
#pragma once

#include "core/record/history_store.h"

#include <QJsonObject>

namespace kv {

QJsonObject historyRecordJson(const HistoryRecord& record);

}  // namespace kv
