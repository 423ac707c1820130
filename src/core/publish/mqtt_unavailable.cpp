// The publisher of a build without libmosquitto: it says so and publishes nothing.
#include "core/publish/mqtt_publisher.h"

namespace kv {

class MqttPublisher::Client {};

bool MqttPublisher::available() {
    return false;
}
MqttPublisher::MqttPublisher(MqttSettings settings, Say) : settings_(std::move(settings)) {}
MqttPublisher::~MqttPublisher() = default;
MqttPublisher::Start MqttPublisher::start(int, QString* problem) {
    *problem = QStringLiteral("this build has no MQTT: libmosquitto was not found when it was built");
    return Start::Refused;
}
void MqttPublisher::setReadings(TemperatureUnit, int) {}
void MqttPublisher::publishReading(const FeedFrame&) {}
void MqttPublisher::publishRecord(const HistoryRecord&) {}
void MqttPublisher::finish(int) {}
MqttPublisher::State MqttPublisher::state() const {
    return State::Off;
}
QString MqttPublisher::refusal() const {
    return QStringLiteral("this build has no MQTT");
}

}  // namespace kv
