#include "core/device/device_session.h"

#include <chrono>
#include <span>

namespace kv {

namespace {

qint64 monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DeviceSession::DeviceSession(SystemPlatform& platform)
    : platform_(platform),
      serial_(platform.createSerialControl()),
      poll_(platform.createTimer()),
      watchdog_(platform.createTimer()),
      tail_(platform.createTimer()) {
    tail_->setInterval(kAnswerTailMs);
    tail_->onTimer = [this] {
        tail_->setEnabled(false);
        if (serial_->PortOpen()) {
            serial_->discardInBuffer();
        }
    };
    serial_->setSettings(QStringLiteral("19200,N,8,1"));
    poll_->setInterval(kPollIntervalMs);
    watchdog_->setInterval(kWatchdogMs);
    serial_->OnComm = [this] { onComm(); };
    watchdog_->onTimer = [this] { Q_EMIT watchdogExpired(); };
    poll_->onTimer = [this] {
        if (!send(requestSample)) {
            stopMonitoring();
            Q_EMIT pollFailed();
        }
    };
}

DeviceSession::~DeviceSession() {
    // The serial control closes its port itself when it goes, letting the last byte out first.
    poll_->setEnabled(false);
    watchdog_->setEnabled(false);
    tail_->setEnabled(false);
    serial_->OnComm = nullptr;
}

void DeviceSession::expect(std::size_t blockSize) {
    serial_->setRThreshold(int(blockSize));
    serial_->setInputLen(int(blockSize));
}

bool DeviceSession::open() {
    return serial_->PortOpen() || serial_->setPortOpen(true);
}

void DeviceSession::close() {
    if (serial_->PortOpen()) {
        serial_->setPortOpen(false);
    }
}

bool DeviceSession::send(std::uint8_t byte) {
    if ((byte == requestSample || byte == requestSettings) && serial_->PortOpen()) {
        // Whatever still waits belongs to an earlier answer (a block a byte short never reached
        // the threshold; a byte too many was left behind); read with the new answer it would
        // shift every later block. Such an answer may still be arriving: what comes within the
        // time its rest can take is thrown away too.
        if (serial_->InBufferCount() > 0) {
            tail_->setEnabled(false);
            tail_->setEnabled(true);
        }
        serial_->discardInBuffer();
    }
    return serial_->Output(byte);
}

bool DeviceSession::sendCalibration(const Calibration& calibration, int* sent) {
    int count = 0;
    for (std::uint8_t byte : settingsToWriteLayout(calibration)) {
        if (!serial_->Output(byte)) {
            break;
        }
        ++count;
    }
    if (sent) {
        *sent = count;
    }
    return count == int(kSettingsImageSize);
}

DeviceSession::Block DeviceSession::receive() {
    Block block;
    if (serial_->CommEvent() != comEvReceive) {
        return block;  // line errors and every other event are ignored
    }
    const int waiting = serial_->InBufferCount();
    const QByteArray bytes = serial_->Input();
    if (waiting > bytes.size() || tail_->Enabled()) {
        // More came than one block: the answer had a byte too many, or it runs into the next one.
        // Where its bytes belong cannot be told, so none of them is taken for a reading.
        serial_->discardInBuffer();
        return block;
    }
    block.readNs = monotonicNs();
    block.timeMs = platform_.nowMs();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    if (std::size_t(bytes.size()) == kSettingsImageSize) {
        block.kind = Block::Image;
        block.image = settingsFromReadLayout(
            std::span<const std::uint8_t, kSettingsImageSize>(data, kSettingsImageSize));
        ++imagesReceived_;
        Q_EMIT imageReceived(block.image);
    } else if (std::size_t(bytes.size()) == kMonitoringFrameSize) {
        watchdog_->setEnabled(false);  // a full interval from this frame
        watchdog_->setEnabled(true);
        block.kind = Block::Frame;
        block.frame = decodeMonitoringFrame(
            std::span<const std::uint8_t, kMonitoringFrameSize>(data, kMonitoringFrameSize));
        ++framesReceived_;
        lastFrame_ = block.frame;
    }
    return block;
}

void DeviceSession::publish(const Block& block) {
    if (block.kind != Block::Frame) {
        return;
    }
    FeedFrame published;
    published.timeMs = block.timeMs;
    published.readNs = block.readNs;
    published.values = block.frame.sample;
    published.correctionActive = block.frame.correctionActive == 1;
    feed_.publish(published);
}

void DeviceSession::onComm() {
    publish(receive());
}

std::optional<Calibration> DeviceSession::readCalibration(int timeoutMs) {
    std::optional<Calibration> image;
    const auto connection =
        connect(this, &DeviceSession::imageReceived, this, [&image](const Calibration& c) { image = c; });
    expect(kSettingsImageSize);
    if (open() && send(requestSettings)) {
        platform_.waitUntil([&image] { return image.has_value(); }, timeoutMs);
    }
    disconnect(connection);
    close();
    return image;
}

DeviceSession::WriteStep DeviceSession::writeCalibration(const Calibration& calibration, int* sent) {
    int count = 0;
    if (sent) {
        *sent = 0;
    }
    expect(kSettingsImageSize);
    if (!open() || !send(writeSettings)) {
        close();
        return WriteStep::PortFailed;
    }
    platform_.sleep(kWriteCommandPauseMs);
    const bool whole = sendCalibration(calibration, &count);
    if (sent) {
        *sent = count;
    }
    if (!whole) {
        close();
        return count > 0 ? WriteStep::CutOff : WriteStep::PortFailed;
    }
    // The device stores what it was sent before it answers again.
    platform_.waitUntil([] { return false; }, kSettleWaitMs);
    return WriteStep::Written;
}

bool DeviceSession::beginMonitoring(int intervalMs, int watchdogMs) {
    expect(kMonitoringFrameSize);
    watchdog_->setInterval(watchdogMs);
    poll_->setInterval(intervalMs);
    watchdog_->setEnabled(true);
    monitoring_ = true;
    bool sent = false;
    if (open()) {
        sent = send(requestSample);
        poll_->setEnabled(true);
    }
    feed_.publishLink(true, platform_.nowMs());
    return sent;
}

bool DeviceSession::startMonitoring(int intervalMs, int watchdogMs) {
    if (beginMonitoring(intervalMs, watchdogMs)) {
        return true;
    }
    stopMonitoring();
    return false;
}

void DeviceSession::stopMonitoring() {
    poll_->setEnabled(false);
    watchdog_->setEnabled(false);
    close();
    if (monitoring_) {
        monitoring_ = false;
        feed_.publishLink(false, platform_.nowMs());
    }
}

}  // namespace kv
