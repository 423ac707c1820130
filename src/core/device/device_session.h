// The device session: the one place that runs exchanges with a KestroVar over the serial control.
// It knows which block each command is answered by, sets the port up for it, decodes what comes
// back and publishes every monitoring frame on its feed. The window drives it step by step from
// its handlers; the command line uses its whole exchanges (read, write, monitor, pause).
#pragma once

#include "core/readings/frame_feed.h"
#include "core/platform/system.h"
#include "protocol/device_protocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace kv {

class DeviceSession : public QObject {
    Q_OBJECT
  public:
    explicit DeviceSession(SystemPlatform& platform);
    ~DeviceSession() override;

    SerialControl& serial() { return *serial_; }
    FrameFeed& feed() { return feed_; }
    // Restarted by every monitoring frame; the window's Timer4, the monitor's watchdog.
    IntervalTimer& watchdog() { return *watchdog_; }
    // Requests a frame every interval while monitoring; the window's Timer1.
    IntervalTimer& poll() { return *poll_; }

    // ---- steps, in the order the exchanges use them ----
    // Receive threshold and read length for the block expected next (25 or 43); before an open.
    void expect(std::size_t blockSize);
    // Opens the port unless it is open; false when it cannot be opened.
    bool open();
    // Closes the port if it is open; a byte just written goes out first.
    void close();
    // Writes one byte; false when the port is closed or gone. A request (requestSample,
    // requestSettings) first throws away every byte still waiting from earlier answers.
    bool send(std::uint8_t byte);
    // Writes the 43 bytes of a settings write, each on its own; false at the first that fails,
    // with how many went out before it in *sent.
    bool sendCalibration(const Calibration& calibration, int* sent = nullptr);

    // What the receive handler took off the line.
    struct Block {
        enum Kind { None, Frame, Image } kind = None;
        MonitoringFrame frame;
        Calibration image;
        qint64 timeMs = 0;  // when it was taken off the line, on the wall clock
        qint64 readNs = 0;  // the same on the monotonic clock, for measuring its handling
    };
    // The receive handler: reads one block when data has arrived and decodes it by its length. A
    // frame restarts the watchdog; a block of any other length than 25 or 43 and every line event
    // give None, and so does a block read while more bytes wait behind it (they are thrown away
    // with it) or while the rest of a stale answer may still be arriving. The caller shows what it needs to,
    // then publishes the block.
    Block receive();
    // Publishes a frame on the feed (anything else is not published). Once per frame.
    void publish(const Block& block);

    // ---- whole exchanges, for scripts; each leaves the port closed ----
    // Asks for the settings image and waits until it is in, at most timeoutMs.
    std::optional<Calibration> readCalibration(int timeoutMs = kSettleWaitMs);
    // Writes the calibration (writeSettings, the pause, the 43 bytes) and gives the device the
    // settle wait to store it. PortFailed: not a byte of the calibration went out; CutOff: the port
    // failed after *sent of the 43 (at least one), so the device may hold part of it.
    enum class WriteStep { Written, PortFailed, CutOff };
    WriteStep writeCalibration(const Calibration& calibration, int* sent = nullptr);

    // Live monitoring, from now until stopMonitoring: the watchdog runs from before the open, so a
    // port that cannot be opened is reported by it too; an open port gets one request now and one
    // every intervalMs, and a failed first request is left to the poll. The feed hears the link come
    // up. true when the first request went out.
    bool beginMonitoring(int intervalMs = kPollIntervalMs, int watchdogMs = kWatchdogMs);
    // The same for a script: unless the first request went out, monitoring stops at once and false
    // is returned.
    bool startMonitoring(int intervalMs = kPollIntervalMs, int watchdogMs = kWatchdogMs);
    // Poll and watchdog off, the port closed (nothing is sent); the feed hears the link go down.
    void stopMonitoring();
    bool monitoring() const { return monitoring_; }

    // Counts of what has arrived since the session started.
    int framesReceived() const { return framesReceived_; }
    int imagesReceived() const { return imagesReceived_; }
    const std::optional<MonitoringFrame>& lastFrame() const { return lastFrame_; }

  Q_SIGNALS:
    void imageReceived(const kv::Calibration& image);
    // While monitoring: no frame for the watchdog's interval, or a request could not be written
    // (monitoring has stopped by then).
    void watchdogExpired();
    void pollFailed();

  private:
    void onComm();

    SystemPlatform& platform_;
    std::unique_ptr<SerialControl> serial_;
    std::unique_ptr<IntervalTimer> poll_;
    std::unique_ptr<IntervalTimer> watchdog_;
    // Runs for kAnswerTailMs after a request that found stale bytes: until then nothing that
    // arrives is taken for a block, since it may be the rest of the earlier answer.
    std::unique_ptr<IntervalTimer> tail_;
    FrameFeed feed_;
    bool monitoring_ = false;
    int framesReceived_ = 0;
    int imagesReceived_ = 0;
    std::optional<MonitoringFrame> lastFrame_;
};

}  // namespace kv
