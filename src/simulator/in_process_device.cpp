#include "simulator/in_process_device.h"

#include <algorithm>
#include <deque>

namespace kv::sim {

class InProcessLine : public SerialControl {
  public:
    explicit InProcessLine(InProcessDevice& device)
        : device_(device), timer_(device.platform_.createTimer()) {
        timer_->onTimer = [this] { arrive(); };
    }
    ~InProcessLine() override { setPortOpen(false); }

    void setCommPort(int port) override { commPort_ = port; }
    int CommPort() const override { return commPort_; }
    // Like the real device, it understands only a line at 19200 baud, 8N1.
    void setSettings(const QString& settings) override {
        understood_ = LineSettings::parse(settings) == LineSettings{};
    }
    bool PortOpen() const override { return device_.holder_ == this; }

    bool setPortOpen(bool open) override {
        if (!open) {
            if (PortOpen()) {
                device_.holder_ = nullptr;
                endLine();
            }
            return true;
        }
        if (PortOpen()) {
            return true;
        }
        if (!device_.present() || device_.holder_) {
            return false;  // gone, or in use by another control
        }
        device_.holder_ = this;
        endLine();
        return true;
    }

    void setRThreshold(int bytes) override { threshold_ = bytes; }
    void setInputLen(int bytes) override { inputLen_ = bytes; }

    bool Output(std::uint8_t byte) override {
        if (!PortOpen()) {
            return false;
        }
        if (understood_) {
            const Micros now = device_.now();
            for (const TimedByte& b : device_.model_.receive(byte, now)) {
                coming_.push_back(b);
            }
            schedule();
        }
        return true;
    }

    QByteArray Input() override {
        const qsizetype n = inputLen_ > 0 ? std::min<qsizetype>(inputLen_, rx_.size()) : rx_.size();
        QByteArray block = rx_.left(n);
        rx_.remove(0, n);
        return block;
    }
    int InBufferCount() const override { return int(rx_.size()); }
    void discardInBuffer() override { rx_.clear(); }
    int CommEvent() const override { return event_; }

    // The device has gone from under the open line.
    void lose() {
        device_.holder_ = nullptr;
        endLine();
    }

  private:
    // Whether it just opened or just closed, nothing from before reaches the program, and a
    // settings write in progress is abandoned.
    void endLine() {
        timer_->setEnabled(false);
        coming_.clear();
        rx_.clear();
        device_.model_.lineClosed();
    }

    // The timer runs until the next byte on its way has arrived.
    void schedule() {
        if (coming_.empty() || timer_->Enabled()) {
            return;
        }
        const qint64 due = std::chrono::ceil<std::chrono::milliseconds>(coming_.front().at).count();
        const qint64 now = std::chrono::floor<std::chrono::milliseconds>(device_.now()).count();
        timer_->setInterval(int(std::max<qint64>(0, due - now)));
        timer_->setEnabled(true);
    }

    void arrive() {
        timer_->setEnabled(false);
        const Micros now = device_.now();
        while (!coming_.empty() && coming_.front().at <= now) {
            rx_.append(char(coming_.front().value));
            coming_.pop_front();
        }
        schedule();
        raiseReceived();
    }

    void raiseReceived() {
        if (raising_) {
            return;
        }
        raising_ = true;
        while (PortOpen() && threshold_ > 0 && rx_.size() >= threshold_) {
            const qsizetype before = rx_.size();
            event_ = comEvReceive;
            if (OnComm) {
                OnComm();
            }
            if (PortOpen() && rx_.size() >= before) {
                break;  // nothing was taken; wait for more bytes
            }
        }
        raising_ = false;
    }

    InProcessDevice& device_;
    std::unique_ptr<IntervalTimer> timer_;
    std::deque<TimedByte> coming_;
    QByteArray rx_;
    int commPort_ = 1;
    int threshold_ = 0;
    int inputLen_ = 0;
    int event_ = 0;
    bool understood_ = true;
    bool raising_ = false;
};

InProcessDevice::InProcessDevice(SystemPlatform& platform, DeviceOptions options)
    : platform_(platform), model_(options), startMs_(platform.steadyMs()) {}

InProcessDevice::~InProcessDevice() = default;

Micros InProcessDevice::now() const {
    return std::chrono::milliseconds(platform_.steadyMs() - startMs_);
}

void InProcessDevice::vanish() {
    model_.vanish();
    if (holder_) {
        holder_->lose();
    }
}

std::unique_ptr<SerialControl> InProcessDevice::createSerialControl() {
    return std::make_unique<InProcessLine>(*this);
}

QString InProcessDevice::description() const {
    return QStringLiteral("KestroVar simulated in this program");
}

}  // namespace kv::sim
