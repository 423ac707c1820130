#include "core/qt_system.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

class QtSerialControl : public QObject, public SerialControl {
  public:
    explicit QtSerialControl(const PortMap& ports) : ports_(ports) {
        connect(&port_, &QSerialPort::readyRead, this, &QtSerialControl::raiseReceived);
        connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onError);
    }
    ~QtSerialControl() override { setPortOpen(false); }

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
            if (port_.isOpen()) {
                // Written bytes are already with the driver (Output flushes); wait for any rest anyway,
                // because closing a QSerialPort discards what it still buffers.
                if (port_.bytesToWrite() > 0) {
                    port_.waitForBytesWritten(100);
                }
                port_.close();
            }
            return true;
        }
        if (port_.isOpen()) {
            return true;
        }
        const QString name = ports_.systemName(commPort_);
        if (name.isEmpty()) {
            return false;
        }
        port_.setPortName(name);
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
        return true;
    }

    void setRThreshold(int bytes) override { threshold_ = bytes; }
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
        // Synchronous: the byte is handed to the driver before Output returns.
        while (port_.isOpen() && port_.bytesToWrite() > 0) {
            if (!port_.flush() && !port_.waitForBytesWritten(100)) {
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

    int CommEvent() const override { return event_; }

  private:
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

bool QtSystemPlatform::portExists(int port) {
    const QString name = ports_.systemName(port);
    if (name.isEmpty()) {
        return false;
    }
#ifdef Q_OS_WIN
    const QByteArray device = (QStringLiteral("\\\\.\\") + name).toLocal8Bit();
    HANDLE handle = CreateFileA(device.constData(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        probeErrors_[port] = int(GetLastError());
        return false;
    }
    CloseHandle(handle);
    probeErrors_[port] = 0;
    return true;
#else
    // A port exists when it can be opened read-write right now. The probe runs only while the
    // program has no port open, never writes and leaves the line settings alone. Opening a real UART
    // raises DTR/RTS for the moment it is open; the compensator talks over RX/TX only, and Windows'
    // own CreateFile probe of a COM port does the same, so the pulse is harmless to it.
    // Why an open failed is kept for portProblem, so that explaining it needs no second open.
    const QByteArray path = QFile::encodeName(name);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        probeErrors_[port] = errno;
        return false;
    }
    ::close(fd);
    probeErrors_[port] = 0;
    return true;
#endif
}

std::optional<QString> QtSystemPlatform::portProblem(int port) {
    if (port < kFirstPort || port > kLastPort) {
        return std::nullopt;
    }
#ifdef Q_OS_WIN
    // Windows answers "access denied" for a port that another program holds open; that is no
    // problem of this user's to fix.
    return std::nullopt;
#else
    const int error = probeErrors_[port];
    if (error != EACCES && error != EPERM) {
        return std::nullopt;  // opened, no such device, or a device that is not a working port
    }
#ifdef Q_OS_LINUX
    return QStringLiteral(
        "permission denied. Add your user to the dialout group (sudo adduser $USER dialout) and log in "
        "again.");
#else
    return QStringLiteral("permission denied. Ask the administrator for read and write access to it.");
#endif
#endif
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit()) {
        if (error) {
            error->message = file.errorString();
        }
        file.cancelWriting();
        return false;
    }
    return true;
}

void QtSystemPlatform::endProcess() {
    std::fflush(nullptr);
    std::exit(0);
}

}  // namespace kv
