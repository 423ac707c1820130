#include "core/publish/record_json.h"

#include "core/calibration/calibration_file.h"
#include "core/readings/time_text.h"

namespace kv {

QJsonObject historyRecordJson(const HistoryRecord& r) {
    QJsonObject o;
    o.insert(QStringLiteral("id"), r.id);
    o.insert(QStringLiteral("time"), rfc3339Local(r.entry.timeMs));
    o.insert(QStringLiteral("operation"), r.entry.operation);
    o.insert(QStringLiteral("result"), r.entry.result);
    o.insert(QStringLiteral("program"), r.entry.program);
    o.insert(QStringLiteral("port"), r.entry.portPath);
    o.insert(QStringLiteral("adapter"), r.entry.adapterName);
    o.insert(QStringLiteral("adapter_serial"), r.entry.adapterSerial);
    o.insert(QStringLiteral("unit"), r.entry.unit);
    o.insert(QStringLiteral("operator"), r.entry.operatorName);
    o.insert(QStringLiteral("host"), r.entry.host);
    if (!r.databaseUser.isEmpty()) {
        o.insert(QStringLiteral("database_user"), r.databaseUser);
    }
    o.insert(QStringLiteral("same_as"), r.sameAsId);
    o.insert(QStringLiteral("damaged"), r.damaged);
    if (r.damaged) {
        o.insert(QStringLiteral("damage"), r.damage);
    } else {
        o.insert(QStringLiteral("cal"), QString::fromLatin1(calibrationFileContent(r.entry.values)));
    }
    return o;
}

}  // namespace kv
