// The serial control on POSIX systems: QSerialPort, with the terminal driver's own drain and
// receive threshold. Windows has its own control (win_serial_control.cpp).
#include "core/platform/qt_system.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QThread>

#include <algorithm>
#include <limits>

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kv {

namespace {

// How long one written byte may take to reach the driver, and the driver to send what it holds
// before a close. At 19200 baud a byte takes half a millisecond on the line.
constexpr int kOutputLimitMs = 100;
constexpr int kDrainLimitMs = 200;

// Waits, until `deadline` at most, for the driver's output queue to empty, then for the last byte to
// leave the UART. false when the queue did not empty in time or the port has gone away.
bool drainOutput(QSerialPort& port, const QDeadlineTimer& deadline) {
    const int fd = port.handle();
#ifdef TIOCOUTQ
    // tcdrain alone has no time limit; a stalled adapter must not hang the window.
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
            return false;
        }
        if (queued <= 0) {
            break;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        QThread::usleep(500);
    }
#else
    Q_UNUSED(deadline);
#endif
    // The queue is empty: what is left is the UART's own FIFO and shift register, a few character
    // times at most.
    return ::tcdrain(fd) == 0;
}

class QtSerialControl : public QObject, public SerialControl {
  public:
    explicit QtSerialControl(const PortMap& ports) : ports_(ports) {
        connect(&port_, &QSerialPort::readyRead, this, &QtSerialControl::raiseReceived);
        connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    }
    ~QtSerialControl() override { closePort(); }

    void setCommPort(int port) override { commPort_ = port; }
    int CommPort() const override { return commPort_; }
    void setSettings(const QString& settings) override {
        if (auto parsed = LineSettings::parse(settings)) {
            settings_ = *parsed;
        }
    }

    bool PortOpen() const override { return port_.isOpen(); }

    bool setPortOpen(bool open) override {
        if (!open) {
            closePort();
            return true;
        }
        if (port_.isOpen()) {
            return true;
        }
        const QString name = ports_.systemName(commPort_);
        if (name.isEmpty()) {
            return false;
        }
        // A link such as /dev/serial/by-id/... is opened as the device it names, so that the lock
        // file QSerialPort takes ("LCK..ttyUSB0") is the one other programs look for.
        port_.setPortName(devicePath(name));
        port_.setBaudRate(settings_.baud);
        port_.setDataBits(QSerialPort::DataBits(settings_.dataBits));
        port_.setParity(settings_.parity == 'E'   ? QSerialPort::EvenParity
                        : settings_.parity == 'O' ? QSerialPort::OddParity
                        : settings_.parity == 'M' ? QSerialPort::MarkParity
                        : settings_.parity == 'S' ? QSerialPort::SpaceParity
                                                  : QSerialPort::NoParity);
        port_.setStopBits(settings_.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
        port_.setFlowControl(QSerialPort::NoFlowControl);
        if (!port_.open(QIODevice::ReadWrite)) {
            return false;
        }
        // As with a hardware port, nothing received before the open is delivered.
        port_.clear(QSerialPort::Input);
        applyThreshold();
        return true;
    }

    void setRThreshold(int bytes) override {
        threshold_ = bytes;
        applyThreshold();
    }
    void setInputLen(int bytes) override { inputLen_ = bytes; }

    bool Output(std::uint8_t byte) override {
        if (!port_.isOpen()) {
            return false;
        }
        port_.clearError();
        const char c = char(byte);
        if (port_.write(&c, 1) != 1) {
            return false;
        }
        // Synchronous: the byte is handed to the driver before Output returns, or the deadline
        // passes. Only waitForBytesWritten is asked, never flush(): on Windows flush() merely starts
        // the overlapped write and answers true while it is still in flight.
        const QDeadlineTimer deadline(kOutputLimitMs);
        while (port_.isOpen() && port_.bytesToWrite() > 0 && !deadline.hasExpired()) {
            if (!port_.waitForBytesWritten(int(deadline.remainingTime()))) {
                break;
            }
        }
        return port_.isOpen() && port_.bytesToWrite() == 0;
    }

    QByteArray Input() override {
        if (!port_.isOpen()) {
            return {};
        }
        return inputLen_ > 0 ? port_.read(inputLen_) : port_.readAll();
    }

    int InBufferCount() const override {
        if (!port_.isOpen()) {
            return 0;
        }
        qint64 waiting = port_.bytesAvailable();
#ifdef TIOCINQ
        int queued = 0;
        if (::ioctl(port_.handle(), TIOCINQ, &queued) == 0 && queued > 0) {
            waiting += queued;  // still in the driver: the event loop has not woken for them
        }
#endif
        return int(std::min<qint64>(waiting, std::numeric_limits<int>::max()));
    }

    void discardInBuffer() override {
        if (port_.isOpen()) {
            port_.clear(QSerialPort::Input);
        }
    }

    int CommEvent() const override {
        return event_;
    }

  private:
    // Where the terminal driver allows it, the port does not become readable before a whole block
    // is in (VMIN with VTIME 0 makes poll() wait for that many bytes), so the event loop is not
    // woken for every byte of a frame. A block that never completes is thrown away with the
    // stale bytes when the next request goes out.
    void applyThreshold() {
        if (!port_.isOpen() || threshold_ <= 0) {
            return;
        }
        termios tio{};
        if (::tcgetattr(port_.handle(), &tio) != 0) {
            return;
        }
        tio.c_cc[VMIN] = cc_t(std::clamp(threshold_, 1, 255));
        tio.c_cc[VTIME] = 0;
        ::tcsetattr(port_.handle(), TCSANOW, &tio);
    }

    // Every close goes through here. Qt 6.4's QSerialPort::close() puts back the line settings the
    // port had before the open, at once: tcsetattr(TCSANOW) with the saved termios, then close(). The
    // settings before the open are often 9600 baud, so a byte still in the driver's queue or the UART's shift
    // register would leave at the wrong speed or not at all: the pause byte and the last settings byte,
    // written just before a close. Output has already handed the byte to the driver; waiting here until the
    // driver's queue is empty and the UART has sent it (tcdrain) means the restore meets an idle line. The
    // wait is bounded, so a stalled adapter is closed all the same.
    void closePort() {
        if (!port_.isOpen()) {
            return;
        }
        const QDeadlineTimer deadline(kDrainLimitMs);
        while (port_.isOpen() && port_.bytesToWrite() > 0 && !deadline.hasExpired()) {
            if (!port_.waitForBytesWritten(int(deadline.remainingTime()))) {
                break;
            }
        }
        // A failing wait may have reported the adapter gone, and onError closed the port already.
        if (port_.isOpen()) {
            drainOutput(port_, deadline);
            port_.close();
        }
    }

    // readyRead fires only when new bytes arrive, so keep raising the event while a whole block waits.
    void raiseReceived() {
        if (raising_) {
            return;  // the loop below sees the new bytes
        }
        raising_ = true;
        while (port_.isOpen() && threshold_ > 0 && port_.bytesAvailable() >= threshold_) {
            const qint64 before = port_.bytesAvailable();
            event_ = comEvReceive;
            if (OnComm) {
                OnComm();
            }
            if (port_.isOpen() && port_.bytesAvailable() >= before) {
                break;  // nothing was taken; wait for more bytes
            }
        }
        raising_ = false;
    }

    void onError(QSerialPort::SerialPortError error) {
        // A vanished adapter shows as a stream of read errors until the port is closed. Closing at
        // once makes the next Output fail, which is how the link notices.
        // This runs inside QSerialPort's own calls, waits included, so it closes without the drain
        // of closePort: the adapter has gone, and there is no line left to protect.
        if ((error == QSerialPort::ReadError || error == QSerialPort::ResourceError) && port_.isOpen()) {
            port_.close();
        }
    }

    const PortMap& ports_;
    QSerialPort port_;
    LineSettings settings_;
    int commPort_ = 1;
    int threshold_ = 0;
    int inputLen_ = 0;
    int event_ = 0;
    bool raising_ = false;
};

}  // namespace

std::unique_ptr<SerialControl> createSystemSerialControl(const PortMap& ports) {
    return std::make_unique<QtSerialControl>(ports);
}

}  // namespace kv
