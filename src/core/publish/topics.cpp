#include "core/publish/topics.h"

#include "core/readings/readings_csv.h"
#include "core/readings/time_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kv {

namespace {

QByteArray jsonString(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

}  // namespace

QString topicLevel(const QString& text) {
    QString level = text.trimmed();
    for (QChar& c : level) {
        if (c == u'+' || c == u'#' || c == u'/' || c.unicode() < 0x20 || c.unicode() == 0x7f ||
            c.category() == QChar::Other_Control) {
            c = u'_';
        }
    }
    return level.isEmpty() ? QStringLiteral("unit") : level;
}

QString unitTopicName(const QString& tag, const QString& adapterSerial, const QString& host,
                      const QString& portPath) {
    if (!tag.trimmed().isEmpty()) {
        return topicLevel(tag);
    }
    if (!adapterSerial.trimmed().isEmpty()) {
        return topicLevel(adapterSerial);
    }
    QString port = portPath;
    while (port.startsWith(u'/')) {
        port.remove(0, 1);
    }
    return topicLevel(port.isEmpty() ? host : host + u'_' + port);
}

QByteArray readingPayload(const FeedFrame& frame, TemperatureUnit unit, const QString& unitName) {
    QByteArray line = readingsJsonLine(frame, unit);
    line.chop(2);  // "}\n"
    return line + ",\"unit\":" + jsonString(unitName) + '}';
}

QByteArray statusPayload(const QString& state, const QString& unitName, const QString& program,
                         const QString& host, qint64 timeMs) {
    QJsonObject o{{QStringLiteral("state"), state},
                  {QStringLiteral("unit"), unitName},
                  {QStringLiteral("program"), program},
                  {QStringLiteral("host"), host}};
    if (timeMs) {
        o.insert(QStringLiteral("time"), rfc3339Local(timeMs));
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::vector<MqttMessage> discoveryMessages(const QString& prefix, const QString& unitName,
                                           TemperatureUnit unit, const QString& program) {
    // The readings' keys in the order of the CSV header: time, the six readings, correction_active.
    const QList<QByteArray> keys = readingsCsvHeader(unit).trimmed().split(',');
    static const char* const names[] = {"Input voltage",  "Input temperature",    "Dew point",
                                        "Output voltage", "Modified temperature", "Output temperature"};
    QString id = QStringLiteral("kestrovar_") + unitName;
    for (QChar& c : id) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != u'-') {
            c = u'_';
        }
    }
    const QString base = prefix + u'/' + unitName;
    std::vector<MqttMessage> messages;
    for (int i = 0; i < kMonitoringFields && i + 1 < keys.size(); ++i) {
        const QString key = QString::fromLatin1(keys[i + 1]);
        const bool voltage = key.endsWith(QStringLiteral("_v"));
        const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{id}},
                                 {QStringLiteral("name"), QStringLiteral("KestroVar ") + unitName},
                                 {QStringLiteral("manufacturer"), QStringLiteral("KestroVar")},
                                 {QStringLiteral("model"), QStringLiteral("dew-point compensator")},
                                 {QStringLiteral("sw_version"), program}};
        const QJsonObject config{
            {QStringLiteral("name"), QString::fromLatin1(names[i])},
            {QStringLiteral("unique_id"), id + u'_' + key},
            {QStringLiteral("object_id"), id + u'_' + key},
            {QStringLiteral("state_topic"), base + QStringLiteral("/readings")},
            {QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(key)},
            {QStringLiteral("unit_of_measurement"),
             voltage ? QStringLiteral("V")
                     : (unit == TemperatureUnit::Celsius ? QStringLiteral("\u00B0C")
                                                         : QStringLiteral("\u00B0F"))},
            {QStringLiteral("device_class"),
             voltage ? QStringLiteral("voltage") : QStringLiteral("temperature")},
            {QStringLiteral("state_class"), QStringLiteral("measurement")},
            {QStringLiteral("availability_topic"), base + QStringLiteral("/status")},
            {QStringLiteral("availability_template"), QStringLiteral("{{ value_json.state }}")},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
            {QStringLiteral("device"), device}};
        messages.push_back({QStringLiteral("homeassistant/sensor/%1/%2/config").arg(id, key),
                            QJsonDocument(config).toJson(QJsonDocument::Compact), true});
    }
    // A sensor of the other temperature unit, from an earlier run, is removed: an empty retained config.
    const QList<QByteArray> others =
        readingsCsvHeader(unit == TemperatureUnit::Celsius ? TemperatureUnit::Fahrenheit
                                                           : TemperatureUnit::Celsius)
            .trimmed()
            .split(',');
    for (const QByteArray& key : others) {
        if (!keys.contains(key)) {
            messages.push_back(
                {QStringLiteral("homeassistant/sensor/%1/%2/config").arg(id, QString::fromLatin1(key)),
                 {},
                 true});
        }
    }
    return messages;
}

}  // namespace kv
