// A publisher of one unit's readings and records to an MQTT broker (libmosquitto underneath).
//
// Nothing here waits on the broker: publishReading() and publishRecord() only queue, and a thread of
// the publisher's own sends. While the broker is away the readings wait in order in a bounded queue
// (an hour and a quarter at the monitoring interval, 1000 at least); a full queue drops the oldest
// readings, never a record. The messages (the broker went away, is back, readings dropped) go to
// `say` once each, from the publisher's thread.
#pragma once

#include "core/publish/mqtt_address.h"
#include "core/readings/frame_feed.h"
#include "core/readings/temperature_unit.h"

#include <QString>

#include <functional>
#include <memory>

namespace kv {

struct HistoryRecord;

struct MqttSettings {
    MqttAddress address;
    QString password;  // with address.user; never said
    QString caFile;    // mqtts: the CAs to trust; empty: the system's
    QString unit;      // the unit's topic level (unitTopicName)
    QString program;   // "kestrovar-cli 1.0.0"
    QString host;      // this machine's name, in the status
    bool discovery = false;
};

class MqttPublisher {
  public:
    enum class State { Off, Connected, Trying };
    enum class Start { Connected, Trying, Refused };
    using Say = std::function<void(const QString&)>;

    // False when this build has no MQTT (libmosquitto was missing when it was configured).
    static bool available();

    MqttPublisher(MqttSettings settings, Say say);
    ~MqttPublisher();  // finish(0) when finish() was not called
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Connects, waiting at most waitMs for the broker's first answer. Refused (a login refused, an
    // unknown host, a certificate not trusted, a CA file that cannot be read, no MQTT in this build):
    // *problem says why and nothing is tried again. Trying: not reached yet, said, tried every second.
    Start start(int waitMs, QString* problem);
    // The readings' keys (°F or °C, also in the discovery messages) and how often they come.
    void setReadings(TemperatureUnit unit, int intervalMs);
    void publishReading(const FeedFrame& frame);
    void publishRecord(const HistoryRecord& record);
    // Says the unit offline, waits at most waitMs for all that is queued to reach the broker,
    // disconnects and says what could not be sent.
    void finish(int waitMs);

    State state() const;
    // Why the broker cannot be used, once it has refused (state() is then Off for good); else empty.
    QString refusal() const;
    // Called from the publisher's thread on every change of state(), with the publisher's lock held:
    // it must not call back into the publisher.
    std::function<void(State)> onState;

    const MqttSettings& settings() const { return settings_; }

    class Client;

  private:
    MqttSettings settings_;
    std::unique_ptr<Client> client_;
};

}  // namespace kv
