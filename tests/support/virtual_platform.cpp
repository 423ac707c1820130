#include "support/virtual_platform.h"

#include <algorithm>

namespace kv::test {

// ---- VirtualClock ----------------------------------------------------------------------------

std::uint64_t VirtualClock::schedule(qint64 due, Callback callback) {
    const Key key{due, ++seq_};
    queue_.emplace(key, std::move(callback));
    keys_.emplace(key.seq, key);
    return key.seq;
}

void VirtualClock::cancel(std::uint64_t id) {
    auto it = keys_.find(id);
    if (it != keys_.end()) {
        queue_.erase(it->second);
        keys_.erase(it);
    }
}

bool VirtualClock::runNext(qint64 until) {
    if (queue_.empty() || queue_.begin()->first.due > until) {
        return false;
    }
    auto it = queue_.begin();
    const Key key = it->first;
    Callback callback = std::move(it->second);
    queue_.erase(it);
    keys_.erase(key.seq);
    now_ = std::max(now_, key.due);
    callback();
    return true;
}

void VirtualClock::runDue() {
    const qint64 until = now_;
    while (runNext(until)) {
    }
}

void VirtualClock::advanceTo(qint64 until) {
    while (runNext(until)) {
    }
    now_ = std::max(now_, until);
}

// ---- VirtualTimer ----------------------------------------------------------------------------

VirtualTimer::~VirtualTimer() {
    clock_.cancel(pending_);
}

void VirtualTimer::setInterval(int ms) {
    interval_ = ms;
    if (enabled_) {  // a new interval starts counting now
        clock_.cancel(pending_);
        arm(clock_.now() + interval_);
    }
}

void VirtualTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) {
        return;
    }
    enabled_ = enabled;
    clock_.cancel(pending_);
    pending_ = 0;
    if (enabled_) {
        ++start_;
        arm(clock_.now() + interval_);
    }
}

int VirtualTimer::RemainingMs() const {
    return enabled_ ? int(std::max<qint64>(0, due_ - clock_.now())) : -1;
}

void VirtualTimer::arm(qint64 due) {
    due_ = due;
    pending_ = clock_.schedule(due, [this, due] { fire(due); });
}

void VirtualTimer::fire(qint64 due) {
    pending_ = 0;
    if (!enabled_) {
        return;
    }
    qint64 next = due + interval_;
    if (next <= clock_.now()) {
        next = clock_.now() + interval_;
    }
    arm(next);
    if (runningStart_ == start_) {
        return;  // like Qt, a timer never interrupts its own handler
    }
    const int outer = runningStart_;
    runningStart_ = start_;
    ++fires;
    if (onTimer) {
        onTimer();
    }
    runningStart_ = outer;
}

// ---- FakeSerial ------------------------------------------------------------------------------

bool FakeSerial::setPortOpen(bool open) {
    const qint64 now = platform_.clock.now();
    if (!open) {
        if (open_) {
            open_ = false;
            rx_.clear();
            log.push_back({now, WireEvent::Close, commPort_, 0});
            if (deviceLineClosed) {
                deviceLineClosed();
            }
        }
        return true;
    }
    if (open_) {
        return true;
    }
    if (!platform_.presentPorts.count(commPort_) || platform_.unopenable.count(commPort_) ||
        platform_.portProblems.count(commPort_)) {
        log.push_back({now, WireEvent::OpenFailed, commPort_, 0});
        return false;
    }
    open_ = true;
    rx_.clear();
    log.push_back({now, WireEvent::Open, commPort_, 0});
    return true;
}

bool FakeSerial::Output(std::uint8_t byte) {
    const qint64 now = platform_.clock.now();
    if (!open_) {
        log.push_back({now, WireEvent::WriteFailed, commPort_, byte});
        return false;
    }
    log.push_back({now, WireEvent::Write, commPort_, byte});
    if (deviceReceives) {
        deviceReceives(byte);
    }
    return true;
}

QByteArray FakeSerial::Input() {
    const qsizetype n = inputLen_ > 0 ? std::min<qsizetype>(inputLen_, rx_.size()) : rx_.size();
    QByteArray block = rx_.left(n);
    rx_.remove(0, n);
    return block;
}

void FakeSerial::deliver(const QByteArray& bytes, qint64 delayMs) {
    platform_.clock.schedule(platform_.clock.now() + delayMs, [this, bytes] {
        if (!open_) {
            return;  // nothing is kept for a closed port
        }
        rx_.append(bytes);
        raiseReceived();
    });
}

void FakeSerial::raiseReceived() {
    if (raising_) {
        return;
    }
    raising_ = true;
    while (open_ && threshold_ > 0 && rx_.size() >= threshold_) {
        const qsizetype before = rx_.size();
        event_ = comEvReceive;
        if (OnComm) {
            OnComm();
        }
        if (open_ && rx_.size() >= before) {
            break;
        }
    }
    raising_ = false;
}

void FakeSerial::raiseEvent(int code) {
    platform_.clock.schedule(platform_.clock.now(), [this, code] {
        event_ = code;
        if (OnComm) {
            OnComm();
        }
    });
}

void FakeSerial::vanish() {
    platform_.presentPorts.erase(commPort_);
    if (open_) {
        open_ = false;
        rx_.clear();
        log.push_back({platform_.clock.now(), WireEvent::Lost, commPort_, 0});
        if (deviceLineClosed) {
            deviceLineClosed();
        }
    }
}

QByteArray FakeSerial::written() const {
    QByteArray bytes;
    for (const WireEvent& e : log) {
        if (e.kind == WireEvent::Write) {
            bytes.append(char(e.byte));
        }
    }
    return bytes;
}

std::vector<std::pair<qint64, std::uint8_t>> FakeSerial::writes() const {
    std::vector<std::pair<qint64, std::uint8_t>> result;
    for (const WireEvent& e : log) {
        if (e.kind == WireEvent::Write) {
            result.emplace_back(e.time, e.byte);
        }
    }
    return result;
}

// ---- VirtualPlatform -------------------------------------------------------------------------

VirtualPlatform::VirtualPlatform() = default;

std::unique_ptr<SerialControl> VirtualPlatform::createSerialControl() {
    if (makeSerialControl) {
        return makeSerialControl();
    }
    auto control = std::make_unique<FakeSerial>(*this);
    serial = control.get();
    if (onSerialCreated) {
        onSerialCreated(*control);
    }
    return control;
}

void VirtualPlatform::waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const qint64 deadline = clock.now() + std::max(0, timeoutMs);
    while (!done() && clock.step(deadline)) {
    }
    if (!done()) {
        clock.advanceTo(deadline);
    }
}

std::unique_ptr<IntervalTimer> VirtualPlatform::createTimer() {
    return std::make_unique<VirtualTimer>(clock);
}

void VirtualPlatform::doEvents() {
    ++doEventsCalls;
    clock.runDue();
}

void VirtualPlatform::sleep(int ms) {
    sleeps.emplace_back(clock.now(), ms);
    clock.sleep(ms);
}

void VirtualPlatform::messageBox(QWidget*, const QString& text) {
    messages.push_back({clock.now(), text});
    if (onMessageBox) {
        onMessageBox(text);
    }
    if (messageHoldMs > 0) {
        clock.advanceBy(messageHoldMs);
    }
}

QStringList VirtualPlatform::messageTexts() const {
    QStringList texts;
    for (const Message& m : messages) {
        texts << m.text;
    }
    return texts;
}

std::optional<QString> VirtualPlatform::fileDialog(QWidget*, FileDialogKind kind,
                                                   const FileDialogOptions& options) {
    dialogs.push_back({clock.now(), kind, options});
    if (dialogAnswers.empty()) {
        return std::nullopt;
    }
    const bool chosen = dialogAnswers.front().has_value();
    const QString path = chosen ? *dialogAnswers.front() : QString();
    dialogAnswers.pop_front();
    if (!chosen) {
        return std::nullopt;
    }
    return path;
}

bool VirtualPlatform::portExists(int port) {
    probes.push_back(port);
    lastProbeFailed_[port] = !presentPorts.count(port) || portProblems.count(port);
    return !lastProbeFailed_[port];
}

std::optional<PortStatus> VirtualPlatform::portProblem(int port) {
    problemQueries.push_back(port);
    // Like the real one, this answers from the latest probe and opens nothing.
    auto failed = lastProbeFailed_.find(port);
    auto problem = portProblems.find(port);
    if (failed == lastProbeFailed_.end() || !failed->second || problem == portProblems.end()) {
        return std::nullopt;
    }
    return PortStatus{portsInUse.count(port) ? PortState::InUse : PortState::NoPermission, problem->second};
}

AdapterInfo VirtualPlatform::portAdapter(int port) {
    AdapterInfo info = adapters[port];
    info.path = portSystemName(port);
    return info;
}

QString VirtualPlatform::portSystemName(int port) const {
    auto it = portNames.find(port);
    return it != portNames.end() ? it->second : QStringLiteral("COM%1").arg(port);
}

std::optional<QByteArray> VirtualPlatform::readBinaryFile(const QString& path) {
    if (unreadable.count(path)) {
        return std::nullopt;
    }
    return files[path];  // opening creates an empty file
}

bool VirtualPlatform::writeBinaryFile(const QString& path, const QByteArray& bytes) {
    ++binaryWrites;
    if (unwritable.count(path)) {
        return false;
    }
    QByteArray& content = files[path];
    if (content.size() < bytes.size()) {
        content.resize(bytes.size());
    }
    std::copy(bytes.begin(), bytes.end(), content.begin());
    return true;
}

std::optional<QByteArray> VirtualPlatform::readTextFile(const QString& path, FileError* error) {
    if (path.endsWith(u'/')) {  // as the real one says of a folder
        if (error) {
            error->message = QStringLiteral("It is a folder, not a file.");
        }
        return std::nullopt;
    }
    auto it = files.find(path);
    if (unreadable.count(path) || it == files.end()) {
        if (error) {
            error->message = it == files.end() ? QStringLiteral("No such file or directory")
                                               : QStringLiteral("Permission denied");
        }
        return std::nullopt;
    }
    return it->second;
}

bool VirtualPlatform::writeTextFileAtomically(const QString& path, const QByteArray& content,
                                              FileError* error) {
    if (unwritable.count(path)) {
        if (error) {
            error->message = QStringLiteral("Permission denied");
        }
        return false;
    }
    files[path] = content;
    return true;
}

}  // namespace kv::test
