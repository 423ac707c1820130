#include "core/platform/qt_system.h"

#include "core/platform/file_write.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace kv {

std::optional<LineSettings> LineSettings::parse(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4) {
        return std::nullopt;
    }
    LineSettings s;
    bool ok[3] = {};
    s.baud = parts[0].trimmed().toInt(&ok[0]);
    const QString parity = parts[1].trimmed().toUpper();
    s.dataBits = parts[2].trimmed().toInt(&ok[1]);
    s.stopBits = parts[3].trimmed().toInt(&ok[2]);
    if (!ok[0] || !ok[1] || !ok[2] || parity.size() != 1 || !QStringLiteral("NEOMS").contains(parity)) {
        return std::nullopt;
    }
    s.parity = char(parity[0].toLatin1());
    return s;
}

namespace {

// How long one written byte may take to reach the driver, and the driver to send what it holds
// before a close. At 19200 baud a byte takes half a millisecond on the line.
constexpr int kOutputLimitMs = 100;
constexpr int kDrainLimitMs = 200;

// Waits, until `deadline` at most, for the driver's output queue to empty, then for the last byte to
// leave the UART. false when the queue did not empty in time or the port has gone away.
bool drainOutput(QSerialPort& port, const QDeadlineTimer& deadline) {
#ifdef Q_OS_WIN
    const HANDLE handle = port.handle();
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle, &errors, &status)) {
            return false;
        }
        if (status.cbOutQue == 0) {
            break;
        }
        if (deadline.hasExpired()) {
            return false;
        }
        Sleep(1);
    }
    // With the queue empty this returns once the driver has completed the last write.
    return FlushFileBuffers(handle) != 0;
#else
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
#endif
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
#ifndef Q_OS_WIN
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
#endif
    }

    // Every close goes through here. Qt 6.4's QSerialPort::close() puts back the line settings the
    // port had before the open, at once: on POSIX tcsetattr(TCSANOW) with the saved termios, then
    // close(); on Windows CancelIo, which abandons a write still in flight, then SetCommState and
    // SetCommTimeouts with the saved DCB, then CloseHandle. The settings before the open are often
    // 9600 baud, so a byte still in the driver's queue or the UART's shift register would leave at
    // the wrong speed or not at all: the pause byte and the last settings byte, written just before
    // a close. Output has already handed the byte to the driver; waiting here until the driver's
    // queue is empty and the UART has sent it (tcdrain; FlushFileBuffers) means the restore meets
    // an idle line. The wait is bounded, so a stalled adapter is closed all the same.
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

class QtIntervalTimer : public IntervalTimer {
  public:
    QtIntervalTimer() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (onTimer) {
                onTimer();
            }
        });
    }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int Interval() const override { return timer_.interval(); }
    void setEnabled(bool enabled) override {
        if (enabled && !timer_.isActive()) {
            timer_.start();
        } else if (!enabled) {
            timer_.stop();
        }
    }
    bool Enabled() const override { return timer_.isActive(); }
    int RemainingMs() const override { return timer_.remainingTime(); }

  private:
    QTimer timer_;
};

}  // namespace

QtSystemPlatform::QtSystemPlatform(PortMap ports) : ports_(std::move(ports)) {}

std::unique_ptr<SerialControl> QtSystemPlatform::createSerialControl() {
    return std::make_unique<QtSerialControl>(ports_);
}

std::unique_ptr<IntervalTimer> QtSystemPlatform::createTimer() {
    return std::make_unique<QtIntervalTimer>();
}

void QtSystemPlatform::doEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtSystemPlatform::sleep(int ms) {
    QThread::msleep(ulong(ms));
}

void QtSystemPlatform::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    // The deadline is an event of its own, so the blocking wait below always wakes up in time.
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    deadline.start(std::max(0, timeoutMs));
    while (!done() && deadline.isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

qint64 QtSystemPlatform::nowMs() const {
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 QtSystemPlatform::steadyMs() const {
#ifdef CLOCK_BOOTTIME
    // The monotonic clock stands still while the machine sleeps; this one counts that time too.
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) == 0) {
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
    }
#endif
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool QtSystemPlatform::portExists(int port) {
    if (port < kFirstPort || port > kLastPort) {
        return false;
    }
    // The probe runs only while the program has no port open. Why it failed is kept for
    // portProblem, so that explaining it needs no second open.
    probes_[port] = probePortStatus(ports_.systemName(port));
    return probes_[port].state == PortState::Present;
}

std::optional<PortStatus> QtSystemPlatform::portProblem(int port) {
    if (port < kFirstPort || port > kLastPort || probes_[port].explanation.isEmpty()) {
        return std::nullopt;  // opened, never probed, no such device, or not a working port
    }
    return probes_[port];
}

AdapterInfo QtSystemPlatform::portAdapter(int port) {
    return adapterInfo(ports_.systemName(port));
}

void QtSystemPlatform::printNotice(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

QString QtSystemPlatform::portSystemName(int port) const {
    return ports_.systemName(port);
}

std::optional<QByteArray> QtSystemPlatform::readBinaryFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {  // creates an empty file, never shortens one
        return std::nullopt;
    }
    return file.readAll();
}

bool QtSystemPlatform::writeBinaryFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || !file.seek(0)) {
        return false;
    }
    return file.write(bytes) == bytes.size() && file.flush();
}

std::optional<QByteArray> QtSystemPlatform::readTextFile(const QString& path, FileError* error) {
    if (QFileInfo(path).isDir()) {
        if (error) {
            error->message = QStringLiteral("It is a folder, not a file.");
        }
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) {
            error->message = file.errorString();
        }
        return std::nullopt;
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) {
            error->message = file.errorString();
        }
        return std::nullopt;
    }
    return content;
}

bool QtSystemPlatform::writeTextFileAtomically(const QString& path, const QByteArray& content,
                                               FileError* error) {
    QString reason;
    if (!writeWholeFile(path, content, &reason)) {
        if (error) {
            error->message = reason;
        }
        return false;
    }
    return true;
}

void QtSystemPlatform::endProcess() {
    std::fflush(nullptr);
    std::exit(0);
}

}  // namespace kv
