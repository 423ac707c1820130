#include "core/platform/qt_system.h"
#include "core/system_reason.h"

#include "core/platform/file_write.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#ifdef Q_OS_WIN
#include <stdlib.h>
#include <windows.h>

#include <shellapi.h>
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

#ifdef Q_OS_WIN
// How often a wait on Windows asks whether it is over (see waitUntil).
constexpr int kWaitProbeMs = 20;
#endif

// The serial control while a device in the process stands in for one port: the port chosen at
// each open decides whether the line leads to the system's port or to that device.
class SwitchedSerialControl : public SerialControl {
  public:
    SwitchedSerialControl(std::unique_ptr<SerialControl> system, std::unique_ptr<SerialControl> inProcess,
                          int inProcessPort)
        : system_(std::move(system)), inProcess_(std::move(inProcess)), inProcessPort_(inProcessPort) {
        for (SerialControl* line : {system_.get(), inProcess_.get()}) {
            line->OnComm = [this] {
                if (OnComm) {
                    OnComm();
                }
            };
        }
    }

    void setCommPort(int port) override {
        port_ = port;
        system_->setCommPort(port);
        inProcess_->setCommPort(port);
    }
    int CommPort() const override { return port_; }
    void setSettings(const QString& settings) override {
        system_->setSettings(settings);
        inProcess_->setSettings(settings);
    }
    bool PortOpen() const override { return active().PortOpen(); }
    bool setPortOpen(bool open) override {
        if (open && !PortOpen()) {
            onDevice_ = port_ == inProcessPort_;
        }
        return active().setPortOpen(open);
    }
    void setRThreshold(int bytes) override {
        system_->setRThreshold(bytes);
        inProcess_->setRThreshold(bytes);
    }
    void setInputLen(int bytes) override {
        system_->setInputLen(bytes);
        inProcess_->setInputLen(bytes);
    }
    bool Output(std::uint8_t byte) override { return active().Output(byte); }
    QByteArray Input() override { return active().Input(); }
    int InBufferCount() const override { return active().InBufferCount(); }
    void discardInBuffer() override { active().discardInBuffer(); }
    int CommEvent() const override { return active().CommEvent(); }

  private:
    SerialControl& active() const { return onDevice_ ? *inProcess_ : *system_; }

    std::unique_ptr<SerialControl> system_;
    std::unique_ptr<SerialControl> inProcess_;
    int inProcessPort_;
    int port_ = 1;
    bool onDevice_ = false;
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

void QtSystemPlatform::setInProcessPort(int port, InProcessPort* device) {
    inProcessPort_ = port;
    inProcess_ = device;
}

std::unique_ptr<SerialControl> QtSystemPlatform::createSerialControl() {
    if (inProcess_) {
        return std::make_unique<SwitchedSerialControl>(createSystemSerialControl(ports_),
                                                       inProcess_->createSerialControl(), inProcessPort_);
    }
    return createSystemSerialControl(ports_);
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
#ifdef Q_OS_WIN
    // On Windows (seen under wine) the dispatcher's blocking wait can go on waiting after the very
    // event that made done() true, when no other event follows, as after a pulled port: a probe
    // asks every few milliseconds and interrupts the wait once done() holds.
    QTimer probe;
    probe.setInterval(kWaitProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&done, &deadline] {
        if (done() || !deadline.isActive()) {
            QAbstractEventDispatcher::instance()->interrupt();
        }
    });
    probe.start();
#endif
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
    probes_[port] = inProcess_ && port == inProcessPort_
                        ? PortStatus{inProcess_->present() ? PortState::Present : PortState::Absent, {}}
                        : probePortStatus(ports_.systemName(port));
    return probes_[port].state == PortState::Present;
}

std::optional<PortStatus> QtSystemPlatform::portProblem(int port) {
    if (port < kFirstPort || port > kLastPort || probes_[port].explanation.isEmpty()) {
        return std::nullopt;  // opened, never probed, no such device, or not a working port
    }
    return probes_[port];
}

AdapterInfo QtSystemPlatform::portAdapter(int port) {
    if (inProcess_ && port == inProcessPort_) {
        return {ports_.systemName(port), {}, inProcess_->description(), {}, {}};
    }
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
            error->message = systemReason(file.errorString());
        }
        return std::nullopt;
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) {
            error->message = systemReason(file.errorString());
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

QStringList commandLineWords(int argc, char** argv) {
    QStringList words;
#ifdef Q_OS_WIN
    // argv is in the ANSI code page, which has no letters for most of the world's names; Windows
    // keeps the command line as it was typed.
    Q_UNUSED(argv);
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) {
            words << QString::fromWCharArray(wide[i]);
        }
        LocalFree(wide);
        return words;
    }
#endif
    for (int i = 0; i < argc; ++i) {
        words << QString::fromLocal8Bit(argv[i]);
    }
    return words;
}

void setEnvironmentText(const char* name, const QString& value) {
#ifdef Q_OS_WIN
    // qputenv goes through the ANSI environment, which would lose what its code page lacks.
    _wputenv_s(QString::fromLatin1(name).toStdWString().c_str(), value.toStdWString().c_str());
#else
    qputenv(name, value.toLocal8Bit());
#endif
}

void QtSystemPlatform::endProcess() {
    std::fflush(nullptr);
    std::exit(0);
}

}  // namespace kv
