#include "simulator/pty_device.h"

#ifdef KV_HAS_PTY_DEVICE

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace kv::sim {

namespace {

// While no program has the port open the line rests at this speed; a program that opens the port
// sets 19200 and, on closing, puts back what it found. That is how the device knows someone listens.
constexpr speed_t kRestingSpeed = B9600;
constexpr speed_t kLineSpeed = B19200;

constexpr int kLineWatchMs = 10;

}  // namespace

PtyDevice::PtyDevice(DeviceOptions options, QObject* parent) : QObject(parent), model_(options) {
    sendTimer_.setSingleShot(true);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &PtyDevice::sendDue);
    lineWatch_.setInterval(kLineWatchMs);
    connect(&lineWatch_, &QTimer::timeout, this, &PtyDevice::watchLine);
}

PtyDevice::~PtyDevice() {
    closeAll();
}

bool PtyDevice::start(QString* error) {
    const auto fail = [&](const char* what) {
        if (error) {
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                  QString::fromLocal8Bit(std::strerror(errno)));
        }
        closeAll();
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) {
        return fail("posix_openpt");
    }
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        return fail("grantpt/unlockpt");
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        return fail("ptsname");
    }
    slavePath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        return fail("open slave");
    }
    termios raw{};
    if (::tcgetattr(slave_, &raw) != 0) {
        return fail("tcgetattr");
    }
    ::cfmakeraw(&raw);
    ::cfsetispeed(&raw, kRestingSpeed);
    ::cfsetospeed(&raw, kRestingSpeed);
    if (::tcsetattr(slave_, TCSANOW, &raw) != 0) {
        return fail("tcsetattr");
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);

    readable_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(readable_.get(), &QSocketNotifier::activated, this, &PtyDevice::readFromProgram);
    clock_.start();
    lineWatch_.start();
    return true;
}

bool PtyDevice::programSideOpen() const {
    termios line{};
    // On a master, the terminal attributes read are those of the slave side.
    return master_ >= 0 && ::tcgetattr(master_, &line) == 0 && ::cfgetospeed(&line) == kLineSpeed;
}

void PtyDevice::watchLine() {
    const bool open = programSideOpen();
    if (open == lineWasOpen_) {
        return;
    }
    lineWasOpen_ = open;
    // Whether the program just closed or just opened, nothing from before reaches it: a closed
    // port receives nothing, and what was on the way is lost.
    outgoing_.clear();
    sendTimer_.stop();
    ::tcflush(slave_, TCIFLUSH);
    model_.lineClosed();
}

void PtyDevice::readFromProgram() {
    std::uint8_t buffer[256];
    for (;;) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        const std::span<const std::uint8_t> bytes(buffer, std::size_t(n));
        heard_.insert(heard_.end(), bytes.begin(), bytes.end());
        watchLine();
        const std::vector<TimedByte> reply = model_.receive(bytes, now());
        outgoing_.insert(outgoing_.end(), reply.begin(), reply.end());
    }
    scheduleSend();
}

void PtyDevice::scheduleSend() {
    if (outgoing_.empty() || master_ < 0) {
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(outgoing_.front().at - now());
    sendTimer_.start(std::max<int>(0, int(wait.count())));
}

void PtyDevice::sendDue() {
    watchLine();
    if (!lineWasOpen_) {
        return;
    }
    std::vector<std::uint8_t> due;
    const Micros t = now();
    while (!outgoing_.empty() && outgoing_.front().at <= t) {
        due.push_back(outgoing_.front().value);
        outgoing_.pop_front();
    }
    if (!due.empty()) {
        const ssize_t written = ::write(master_, due.data(), due.size());
        Q_UNUSED(written);  // a full buffer loses bytes, as an overrun would
    }
    scheduleSend();
}

void PtyDevice::vanish() {
    if (master_ < 0) {
        return;
    }
    model_.vanish();
    closeAll();
    Q_EMIT vanished();
}

void PtyDevice::closeAll() {
    sendTimer_.stop();
    lineWatch_.stop();
    readable_.reset();
    outgoing_.clear();
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    slavePath_.clear();
}

}  // namespace kv::sim

#endif
