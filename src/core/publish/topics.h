// Our data on MQTT topics: PREFIX/UNIT/readings (each frame as `monitor --json` prints it, plus
// "unit"), PREFIX/UNIT/status (retained online / offline, also the last will) and PREFIX/UNIT/records
// (each calibration record as `history --json` lists it), and Home Assistant's discovery messages.
#pragma once

#include "core/readings/frame_feed.h"
#include "core/readings/temperature_unit.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace kv {

// One topic level: "+", "#", "/" and control characters become "_"; empty becomes "unit".
QString topicLevel(const QString& text);
// The unit's level: the --unit tag, else the adapter's serial number, else the machine and the port
// ("bench3_dev_ttyUSB0"), as a topic level.
QString unitTopicName(const QString& tag, const QString& adapterSerial, const QString& host,
                      const QString& portPath);

QByteArray readingPayload(const FeedFrame& frame, TemperatureUnit unit, const QString& unitName);
// {"state":"online","unit":...,"program":...,"host":...,"time":...}; no "time" when timeMs is 0 (the
// last will, which the broker sends at a time of its own).
QByteArray statusPayload(const QString& state, const QString& unitName, const QString& program,
                         const QString& host, qint64 timeMs);

struct MqttMessage {
    QString topic;
    QByteArray payload;
    bool retain = false;
};
// homeassistant/sensor/kestrovar_UNIT/KEY/config for the six readings, retained: each a sensor with
// its unit, read from the readings topic, available while the status says online.
std::vector<MqttMessage> discoveryMessages(const QString& prefix, const QString& unitName,
                                           TemperatureUnit unit, const QString& program);

}  // namespace kv
