// The publisher on libmosquitto. A thread of our own runs mosquitto_loop() and connects again every
// second after any loss (libmosquitto's own loop_forever gives up on some errors, such as a refused
// login, which later in a run are to be retried quietly). Messages wait in our queues until the
// broker is connected; at most kWindow QoS 1 messages are handed to libmosquitto at a time, which
// keeps them across a reconnection and sends them again, so a reading is neither lost nor left
// behind. Our mutex is never held while libmosquitto calls back into us from its own lock.
#include "core/publish/mqtt_publisher.h"

#include "core/publish/record_json.h"
#include "core/publish/topics.h"
#include "core/readings/time_text.h"
#include "core/record/history_store.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <mosquitto.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace kv {

namespace {

constexpr int kWindow = 64;      // QoS 1 messages handed to libmosquitto and not yet acknowledged
constexpr int kKeepAliveS = 10;  // the broker sends the last will within 1.5 times this of silence
constexpr int kRetryMs = 1000;   // between tries to connect again
constexpr int kMinQueuedReadings = 1000;
// Without the broker's answer to CONNECT within this, the try counts as failed (libmosquitto does
// not report a refused TLS connection: its loop goes on as if it were waiting).
constexpr int kConnackMs = 2000;

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString connackText(int rc) {
    switch (rc) {
        case 1:
            return QStringLiteral("the broker refused the protocol version");
        case 2:
            return QStringLiteral("the broker refused the client identifier");
        case 4:
            return QStringLiteral("the broker refused the login: bad user name or password");
        case 5:
            return QStringLiteral("the broker refused the login: not authorised");
        default:
            return QStringLiteral("the broker refused the connection (%1)").arg(rc);
    }
}

}  // namespace

class MqttPublisher::Client {
  public:
    Client(MqttPublisher& owner, Say say) : owner_(owner), say_(std::move(say)) {}

    ~Client() {
        stopThread();
        if (mosq_) {
            mosquitto_destroy(mosq_);
        }
    }

    struct Message {
        QByteArray topic;
        QByteArray payload;
        bool retain = false;
    };

    MqttPublisher& owner_;
    Say say_;
    mosquitto* mosq_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Under mutex_:
    std::deque<Message> others_;    // status, discovery, records: never dropped
    std::deque<Message> readings_;  // the oldest dropped when full
    std::size_t maxReadings_ = 6429;
    int inflight_ = 0;
    // After a reconnection libmosquitto first sends again what was in flight; ours wait until
    // those are acknowledged, so that the readings stay in order.
    bool draining_ = false;
    std::chrono::steady_clock::time_point drainingSince_;
    bool connected_ = false;
    bool everConnected_ = false;
    bool awaySaid_ = false;  // the loss has been said; "is back" is due
    bool finishing_ = false;
    bool closed_ = false;  // the socket is closed (after our DISCONNECT went out, at the end)
    qint64 dropped_ = 0;   // readings dropped since the last "is back"
    bool droppingSaid_ = false;
    TemperatureUnit unit_ = TemperatureUnit::Fahrenheit;
    bool readingsSet_ = false;  // setReadings() has said the keys: discovery can go out
    // The first outcome, for start().
    enum class Outcome { Pending, Connected, Failed, Refused } outcome_ = Outcome::Pending;
    QString outcomeText_;
    QString lastError_;  // libmosquitto's last error line (a TLS failure is told there)
    State state_ = State::Off;

    const MqttSettings& settings() const { return owner_.settings_; }
    QByteArray topic(const char* leaf) const {
        return (settings().address.prefix + u'/' + settings().unit + u'/' + QLatin1String(leaf)).toUtf8();
    }
    QString now() const { return rfc3339Local(QDateTime::currentMSecsSinceEpoch()); }

    void setState(State state) {
        if (state != state_) {
            state_ = state;
            if (owner_.onState) {
                owner_.onState(state);
            }
        }
    }

    // Hands queued messages to libmosquitto while connected and the window has room. mutex_ held.
    void pump() {
        if (draining_ && inflight_ == 0) {
            draining_ = false;
        }
        while (connected_ && !draining_ && inflight_ < kWindow && (!others_.empty() || !readings_.empty())) {
            std::deque<Message>& queue = others_.empty() ? readings_ : others_;
            const Message& m = queue.front();
            const int rc = mosquitto_publish(mosq_, nullptr, m.topic.constData(), int(m.payload.size()),
                                             m.payload.constData(), 1, m.retain);
            if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
                // Not ours to send again (too large, bad topic): said, and let go.
                say_(QStringLiteral("MQTT: a message to %1 could not be published: %2")
                         .arg(QString::fromUtf8(m.topic), QString::fromUtf8(mosquitto_strerror(rc))));
                queue.pop_front();
                continue;
            }
            if (rc == MOSQ_ERR_NO_CONN) {
                break;  // libmosquitto keeps QoS 1 messages only once it has taken them
            }
            ++inflight_;
            queue.pop_front();
        }
    }

    void enqueue(Message m, bool reading) {
        std::lock_guard lock(mutex_);
        if (reading) {
            readings_.push_back(std::move(m));
            if (readings_.size() > maxReadings_) {
                readings_.pop_front();
                ++dropped_;
                if (!droppingSaid_) {
                    droppingSaid_ = true;
                    say_(QStringLiteral("%1: the MQTT queue is full (%2 readings): the oldest are dropped")
                             .arg(now())
                             .arg(maxReadings_));
                }
            }
        } else {
            others_.push_back(std::move(m));
        }
        pump();
    }

    static void onConnect(mosquitto*, void* data, int rc) {
        auto* self = static_cast<Client*>(data);
        std::lock_guard lock(self->mutex_);
        if (rc != 0) {
            if (self->outcome_ == Outcome::Pending) {
                self->outcome_ = Outcome::Refused;
                self->outcomeText_ = connackText(rc);
                self->changed_.notify_all();
            }
            return;
        }
        self->connected_ = true;
        self->draining_ = self->inflight_ > 0;
        self->drainingSince_ = std::chrono::steady_clock::now();
        // What libmosquitto holds is sent again by itself; the status and discovery come first.
        std::deque<Message> first;
        first.push_back(
            {self->topic("status"),
             statusPayload(QStringLiteral("online"), self->settings().unit, self->settings().program,
                           self->settings().host, QDateTime::currentMSecsSinceEpoch()),
             true});
        if (self->settings().discovery && self->readingsSet_) {
            for (const MqttMessage& m :
                 discoveryMessages(self->settings().address.prefix, self->settings().unit, self->unit_,
                                   self->settings().program)) {
                first.push_back({m.topic.toUtf8(), m.payload, m.retain});
            }
        }
        if (self->finishing_) {
            first.clear();  // the offline status is already queued
        }
        self->others_.insert(self->others_.begin(), first.begin(), first.end());
        if (self->awaySaid_) {
            self->awaySaid_ = false;
            QString line = QStringLiteral(
                               "%1: the MQTT broker %2 is back; %3 readings and %4 other messages waiting go "
                               "out now")
                               .arg(self->now(), self->settings().address.shown())
                               .arg(self->readings_.size())
                               .arg(self->others_.size() - first.size());
            if (self->dropped_) {
                line += QStringLiteral("; %1 readings were dropped from the full queue").arg(self->dropped_);
            }
            self->say_(line);
            self->dropped_ = 0;
            self->droppingSaid_ = false;
        }
        self->everConnected_ = true;
        if (self->outcome_ == Outcome::Pending) {
            self->outcome_ = Outcome::Connected;
        }
        self->setState(State::Connected);
        self->pump();
        self->changed_.notify_all();
    }

    static void onPublish(mosquitto*, void* data, int) {
        auto* self = static_cast<Client*>(data);
        std::lock_guard lock(self->mutex_);
        self->inflight_ = std::max(0, self->inflight_ - 1);
        self->pump();
        self->changed_.notify_all();
    }

    static void onDisconnect(mosquitto*, void* data, int) {
        auto* self = static_cast<Client*>(data);
        std::lock_guard lock(self->mutex_);
        self->closed_ = true;
        self->changed_.notify_all();
    }

    static void onLog(mosquitto*, void* data, int level, const char* text) {
        if (level & MOSQ_LOG_ERR) {
            auto* self = static_cast<Client*>(data);
            std::lock_guard lock(self->mutex_);
            self->lastError_ = QString::fromUtf8(text);
        }
    }

    // A failure to connect or a loss; from the thread. Said once until the broker is back.
    void lost(const QString& why, bool fatalAtStart) {
        std::lock_guard lock(mutex_);
        const bool wasConnected = connected_;
        connected_ = false;
        if (outcome_ == Outcome::Pending) {
            outcome_ = fatalAtStart ? Outcome::Refused : Outcome::Failed;
            outcomeText_ = why;
            changed_.notify_all();
            if (fatalAtStart) {
                return;
            }
        }
        if ((wasConnected || !everConnected_) && !awaySaid_ && !finishing_ && outcome_ != Outcome::Refused) {
            awaySaid_ = true;
            if (everConnected_) {
                say_(
                    QStringLiteral("%1: the MQTT broker %2 went away (%3); readings and records are kept and "
                                   "sent when it is back")
                        .arg(now(), settings().address.shown(), why));
            }
        }
        setState(State::Trying);
        changed_.notify_all();
    }

    QString errorText(int rc) {
        std::lock_guard lock(mutex_);
        if (rc == MOSQ_ERR_ERRNO) {
            return QString::fromLocal8Bit(std::strerror(errno));
        }
        if (rc == MOSQ_ERR_TLS && !lastError_.isEmpty()) {
            return QStringLiteral("TLS: %1").arg(lastError_);
        }
        return QString::fromUtf8(mosquitto_strerror(rc));
    }

    // A failure that will not mend by trying again at start-up: the host, the certificate, the login.
    static bool fatal(int rc) { return rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_AUTH; }

    void run(int firstRc) {
        bool socketUp = firstRc == MOSQ_ERR_SUCCESS;
        if (!socketUp) {
            lost(startText(firstRc), fatal(firstRc));
        }
        auto triedAt = std::chrono::steady_clock::now();
        auto nextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
        while (!stopping_.load()) {
            if (!socketUp) {
                {
                    std::unique_lock lock(mutex_);
                    if (outcome_ == Outcome::Refused) {
                        setState(State::Off);  // refusal() says why; nothing is tried again
                        return;
                    }
                    if (finishing_ && closed_) {
                        // Our own DISCONNECT at the end: connecting again would leave a session
                        // whose close makes the broker send the last will after the offline status.
                        changed_.wait(lock, [&] { return stopping_.load(); });
                        break;
                    }
                    changed_.wait_until(lock, nextTry, [&] { return stopping_.load(); });
                }
                if (stopping_.load()) {
                    break;
                }
                nextTry = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryMs);
                const int rc = mosquitto_reconnect_async(mosq_);
                triedAt = std::chrono::steady_clock::now();
                socketUp = rc == MOSQ_ERR_SUCCESS;
                if (!socketUp) {
                    lost(startText(rc), false);
                }
                continue;
            }
            const int rc = mosquitto_loop(mosq_, 100, 1);
            bool answered = false;
            {
                std::lock_guard lock(mutex_);
                answered = connected_ || outcome_ == Outcome::Refused;
            }
            {
                // Should the messages in flight never be acknowledged, ours go on after a while.
                std::lock_guard lock(mutex_);
                if (draining_ &&
                    std::chrono::steady_clock::now() - drainingSince_ > std::chrono::seconds(10)) {
                    draining_ = false;
                    inflight_ = 0;
                    pump();
                }
            }
            if (rc == MOSQ_ERR_SUCCESS && !answered &&
                std::chrono::steady_clock::now() - triedAt > std::chrono::milliseconds(kConnackMs)) {
                socketUp = false;
                lost(QStringLiteral("no answer from the broker in %1 ms").arg(kConnackMs), false);
                continue;
            }
            if (rc != MOSQ_ERR_SUCCESS) {
                socketUp = false;
                bool refusedAtStart = false;
                {
                    std::lock_guard lock(mutex_);
                    refusedAtStart = outcome_ == Outcome::Refused;
                }
                if (!refusedAtStart) {
                    lost(startText(rc), fatal(rc) && !everConnectedLocked());
                }
            }
        }
    }

    bool everConnectedLocked() {
        std::lock_guard lock(mutex_);
        return everConnected_;
    }

    QString startText(int rc) {
        if (rc == MOSQ_ERR_EAI) {
            return QStringLiteral("the host %1 is not known").arg(settings().address.host);
        }
        if (rc == MOSQ_ERR_TLS) {
            const QString detail = errorText(rc);
            return detail.contains(QStringLiteral("certificate verify failed"))
                       ? QStringLiteral("the broker's certificate is not trusted (%1)").arg(detail)
                       : detail;
        }
        if (rc == MOSQ_ERR_AUTH) {
            return QStringLiteral("the broker refused the login");
        }
        return errorText(rc);
    }

    // Called without the mutex held. stopping_ is set under it: set between the thread's look at it
    // and its wait, the notification would be lost and the thread would wait for good (seen once in
    // sixteen publishers at once, as a join that never ended).
    void stopThread() {
        {
            std::lock_guard lock(mutex_);
            stopping_.store(true);
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
    }
};

bool MqttPublisher::available() {
    return true;
}

MqttPublisher::MqttPublisher(MqttSettings settings, Say say)
    : settings_(std::move(settings)), client_(std::make_unique<Client>(*this, std::move(say))) {}

MqttPublisher::~MqttPublisher() {
    finish(0);
}

MqttPublisher::Start MqttPublisher::start(int waitMs, QString* problem) {
    initialiseLibrary();
    Client& c = *client_;
    const MqttAddress& a = settings_.address;
    if (!settings_.caFile.isEmpty() && !QFileInfo(settings_.caFile).isReadable()) {
        *problem = QStringLiteral("the CA file %1 cannot be read").arg(settings_.caFile);
        return Start::Refused;
    }
    c.mosq_ = mosquitto_new(nullptr, true, &c);
    if (!c.mosq_) {
        *problem = QStringLiteral("libmosquitto could not make a client");
        return Start::Refused;
    }
    mosquitto_threaded_set(c.mosq_, true);
    mosquitto_connect_callback_set(c.mosq_, &Client::onConnect);
    mosquitto_publish_callback_set(c.mosq_, &Client::onPublish);
    mosquitto_log_callback_set(c.mosq_, &Client::onLog);
    mosquitto_disconnect_callback_set(c.mosq_, &Client::onDisconnect);
    mosquitto_max_inflight_messages_set(c.mosq_, kWindow);
    if (!a.user.isEmpty()) {
        mosquitto_username_pw_set(
            c.mosq_, a.user.toUtf8().constData(),
            settings_.password.isEmpty() ? nullptr : settings_.password.toUtf8().constData());
    }
    const QByteArray will =
        statusPayload(QStringLiteral("offline"), settings_.unit, settings_.program, settings_.host, 0);
    mosquitto_will_set(c.mosq_, c.topic("status").constData(), int(will.size()), will.constData(), 1, true);
    if (a.tls) {
        int rc = MOSQ_ERR_SUCCESS;
        if (settings_.caFile.isEmpty()) {
            mosquitto_int_option(c.mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            rc = mosquitto_tls_set(c.mosq_, QFile::encodeName(settings_.caFile).constData(), nullptr, nullptr,
                                   nullptr, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            *problem =
                QStringLiteral("TLS could not be set up: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return Start::Refused;
        }
    }
    const int firstRc = mosquitto_connect_async(c.mosq_, a.host.toUtf8().constData(), a.port, kKeepAliveS);
    c.thread_ = std::thread([&c, firstRc] { c.run(firstRc); });

    std::unique_lock lock(c.mutex_);
    c.changed_.wait_for(lock, std::chrono::milliseconds(waitMs),
                        [&] { return c.outcome_ != Client::Outcome::Pending; });
    switch (c.outcome_) {
        case Client::Outcome::Connected:
            return Start::Connected;
        case Client::Outcome::Refused:
            *problem = c.outcomeText_;
            lock.unlock();
            c.stopThread();
            return Start::Refused;
        case Client::Outcome::Failed:
        case Client::Outcome::Pending:
            break;
    }
    *problem = c.outcome_ == Client::Outcome::Pending ? QStringLiteral("no answer in %1 ms").arg(waitMs)
                                                      : c.outcomeText_;
    c.awaySaid_ = true;  // said by the caller; "is back" follows
    c.setState(State::Trying);
    return Start::Trying;
}

void MqttPublisher::setReadings(TemperatureUnit unit, int intervalMs) {
    std::lock_guard lock(client_->mutex_);
    client_->unit_ = unit;
    client_->readingsSet_ = true;
    // An hour and a quarter of readings at the interval.
    client_->maxReadings_ =
        std::size_t(std::max<qint64>(kMinQueuedReadings, 4500000 / std::max(1, intervalMs)));
    if (settings_.discovery && client_->mosq_ && client_->connected_) {
        // Once the keys are known (°F or °C); onConnect sends them again after a loss.
        for (const MqttMessage& m :
             discoveryMessages(settings_.address.prefix, settings_.unit, unit, settings_.program)) {
            client_->others_.push_back({m.topic.toUtf8(), m.payload, m.retain});
        }
        client_->pump();
    }
}

void MqttPublisher::publishReading(const FeedFrame& frame) {
    if (!client_->mosq_) {
        return;
    }
    TemperatureUnit unit;
    {
        std::lock_guard lock(client_->mutex_);
        unit = client_->unit_;
    }
    client_->enqueue({client_->topic("readings"), readingPayload(frame, unit, settings_.unit), false}, true);
}

void MqttPublisher::publishRecord(const HistoryRecord& record) {
    if (!client_->mosq_) {
        return;
    }
    client_->enqueue({client_->topic("records"),
                      QJsonDocument(historyRecordJson(record)).toJson(QJsonDocument::Compact), false},
                     false);
}

void MqttPublisher::finish(int waitMs) {
    Client& c = *client_;
    if (!c.mosq_ || !c.thread_.joinable()) {
        return;
    }
    {
        std::unique_lock lock(c.mutex_);
        if (!c.finishing_) {
            c.finishing_ = true;
            c.others_.push_back({c.topic("status"),
                                 statusPayload(QStringLiteral("offline"), settings_.unit, settings_.program,
                                               settings_.host, QDateTime::currentMSecsSinceEpoch()),
                                 true});
            c.pump();
        }
        // A broker that is away gets one more try to come back, not the whole wait.
        if (!c.connected_) {
            waitMs = std::min(waitMs, kRetryMs + 500);
        }
        c.changed_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] {
            return c.connected_ && c.inflight_ == 0 && c.others_.empty() && c.readings_.empty();
        });
        const std::size_t readings = c.readings_.size();
        // The offline status is the last message; it is no record.
        const std::size_t others = c.others_.size() + std::size_t(c.inflight_);
        if (readings || others) {
            c.say_(QStringLiteral(
                       "%1 readings and %2 other messages (records, status) could not be sent to the MQTT "
                       "broker %3 before the end")
                       .arg(readings)
                       .arg(others)
                       .arg(settings_.address.shown()));
        }
        if (c.connected_) {
            // A clean end: once DISCONNECT has gone out, the broker does not send the last will.
            c.closed_ = false;
            mosquitto_disconnect(c.mosq_);
            c.changed_.wait_for(lock, std::chrono::milliseconds(3000), [&] { return c.closed_; });
        }
    }
    c.stopThread();
    c.setState(State::Off);
}

MqttPublisher::State MqttPublisher::state() const {
    std::lock_guard lock(client_->mutex_);
    return client_->state_;
}

QString MqttPublisher::refusal() const {
    std::lock_guard lock(client_->mutex_);
    return client_->outcome_ == Client::Outcome::Refused ? client_->outcomeText_ : QString();
}

}  // namespace kv
