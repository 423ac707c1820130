// The serial control on Windows, on the Win32 API (there is no QtSerialPort in this build): the port
// opened as \\.\COMn with overlapped I/O, the line set through the DCB, and the driver asked every
// few milliseconds by a timer of the UI thread, so that OnComm is raised there, as QSerialPort
// raises readyRead. A WaitCommEvent(EV_RXCHAR) watched by a QWinEventNotifier stopped the event
// loop from waking at all under wine, timers included; the poll works on every driver.
#include "core/platform/port_info.h"
#include "core/platform/qt_system.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <optional>

#include <windows.h>

namespace kv {

namespace {

// How long one written byte may take to reach the driver, and the driver to send what it holds
// before a close. At 19200 baud a byte takes half a millisecond on the line.
constexpr DWORD kOutputLimitMs = 100;
constexpr int kDrainLimitMs = 200;
// How often the driver is asked for received bytes: 19 bytes' time at 19200 baud, a small part of
// the device's 20 ms before it answers.
constexpr int kPollMs = 10;
// A read returns at once by its timeouts; one that is still pending after this is cancelled, and a
// port whose cancelled operation does not end either has gone away (a hung-up line under wine).
constexpr DWORD kReadLimitMs = 50;
constexpr DWORD kCancelLimitMs = 100;
// How long one read waits for a byte before it is made anew. Under wine a read that is waiting when
// the line hangs up never ends, while one made after it fails: a pulled port is noticed this soon.
constexpr int kRenewWaitMs = 100;

// An event for one overlapped operation: manual reset, as GetOverlappedResult expects.
struct Overlapped {
    Overlapped() { io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(io.hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    OVERLAPPED* start() {
        ResetEvent(io.hEvent);
        io.Internal = io.InternalHigh = 0;
        io.Offset = io.OffsetHigh = 0;
        return &io;
    }
    OVERLAPPED io{};
};

class WinSerialControl : public QObject, public SerialControl {
  public:
    explicit WinSerialControl(const PortMap& ports) : ports_(ports) {
        poll_.setInterval(kPollMs);
        poll_.setTimerType(Qt::PreciseTimer);
        connect(&poll_, &QTimer::timeout, this, [this] {
            if (PortOpen() && !readAvailable()) {
                lose();
            }
            raiseReceived();
        });
    }
    ~WinSerialControl() override { closePort(); }

    void setCommPort(int port) override { commPort_ = port; }
    int CommPort() const override { return commPort_; }
    void setSettings(const QString& settings) override {
        if (auto parsed = LineSettings::parse(settings)) {
            settings_ = *parsed;
        }
    }

    bool PortOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    bool setPortOpen(bool open) override {
        if (!open) {
            closePort();
            return true;
        }
        if (PortOpen()) {
            return true;
        }
        const QString name = ports_.systemName(commPort_);
        if (name.isEmpty()) {
            return false;
        }
        // One of our programs at a time, even where the driver lets a second one open the port.
        const QString lockName = portLockName(name);
        HANDLE lock = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(lockName.utf16()));
        if (!lock) {
            return false;
        }
        if (const DWORD got = WaitForSingleObject(lock, 0); got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
            CloseHandle(lock);
            return false;
        }
        const auto unlock = [lock] {
            ReleaseMutex(lock);
            CloseHandle(lock);
        };
        // The \\.\ form is the only one that reaches COM10 and above.
        const QString device = win32DeviceName(name);
        const HANDLE handle =
            CreateFileW(reinterpret_cast<const wchar_t*>(device.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            unlock();
            return false;
        }
        saved_.DCBlength = sizeof saved_;
        if (!GetCommState(handle, &saved_) || !GetCommTimeouts(handle, &savedTimeouts_)) {
            CloseHandle(handle);
            unlock();
            return false;
        }
        DCB line = saved_;
        setLine(line);
        // Reads return at once with what the driver holds; a write gives up after the output limit.
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, kOutputLimitMs};
        if (!SetCommState(handle, &line) || !SetCommTimeouts(handle, &timeouts) || !SetCommMask(handle, 0)) {
            SetCommState(handle, &saved_);
            SetCommTimeouts(handle, &savedTimeouts_);
            CloseHandle(handle);
            unlock();
            return false;
        }
        // As with any port, nothing received before the open is delivered.
        PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
        handle_ = handle;
        lock_ = lock;
        rx_.clear();
        poll_.start();
        return true;
    }

    void setRThreshold(int bytes) override { threshold_ = bytes; }
    void setInputLen(int bytes) override { inputLen_ = bytes; }

    bool Output(std::uint8_t byte) override {
        if (!PortOpen()) {
            return false;
        }
        outByte_ = char(byte);  // the control's: a write that is never ended may read it later
        OVERLAPPED* io = write_.start();
        if (!WriteFile(handle_, &outByte_, 1, nullptr, io) && GetLastError() != ERROR_IO_PENDING) {
            checkLine();  // a pulled adapter refuses the write; the port closes so the link notices
            return false;
        }
        // Synchronous: the byte is with the driver before Output returns, or the limit passes.
        DWORD written = 0;
        if (WaitForSingleObject(io->hEvent, kOutputLimitMs) != WAIT_OBJECT_0) {
            if (!cancel(io)) {
                lose();  // the write neither ends nor can be cancelled: the port has gone away
            }
            return false;
        }
        if (!GetOverlappedResult(handle_, io, &written, FALSE)) {
            checkLine();
            return false;
        }
        return written == 1;
    }

    QByteArray Input() override {
        const qsizetype n = inputLen_ > 0 ? std::min<qsizetype>(inputLen_, rx_.size()) : rx_.size();
        QByteArray block = rx_.left(n);
        rx_.remove(0, n);
        return block;
    }

    int InBufferCount() const override {
        if (!PortOpen()) {
            return 0;
        }
        qint64 waiting = rx_.size();
        DWORD errors = 0;
        COMSTAT status{};
        if (ClearCommError(handle_, &errors, &status)) {
            waiting += status.cbInQue;  // still in the driver: the event loop has not woken for them
        }
        if (waiting_ && WaitForSingleObject(wait_.io.hEvent, 0) == WAIT_OBJECT_0) {
            ++waiting;  // taken by the waiting read, not yet collected
        }
        return int(std::min<qint64>(waiting, std::numeric_limits<int>::max()));
    }

    void discardInBuffer() override {
        if (PortOpen()) {
            if (waiting_ && WaitForSingleObject(wait_.io.hEvent, 0) == WAIT_OBJECT_0) {
                DWORD got = 0;
                GetOverlappedResult(handle_, &wait_.io, &got, FALSE);  // a byte that came before: dropped
                waiting_ = false;
            }
            PurgeComm(handle_, PURGE_RXCLEAR);
            rx_.clear();
        }
    }

    int CommEvent() const override { return event_; }

  private:
    static QString win32DeviceName(const QString& name) {
        return name.startsWith(QLatin1String("\\\\.\\")) ? name : QStringLiteral("\\\\.\\") + name;
    }

    // 19200,N,8,1 or whatever the settings say; binary, no flow control, and DTR and RTS raised as
    // an open raises them on Linux (some USB adapters send nothing without DTR). A line error does
    // not stop the port (fAbortOnError off): the frame it spoils is dropped by the link.
    void setLine(DCB& line) const {
        line.BaudRate = DWORD(settings_.baud);
        line.ByteSize = BYTE(settings_.dataBits);
        line.Parity = settings_.parity == 'E'   ? EVENPARITY
                      : settings_.parity == 'O' ? ODDPARITY
                      : settings_.parity == 'M' ? MARKPARITY
                      : settings_.parity == 'S' ? SPACEPARITY
                                                : NOPARITY;
        line.fParity = settings_.parity != 'N';
        line.StopBits = settings_.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
        line.fBinary = TRUE;
        line.fOutxCtsFlow = FALSE;
        line.fOutxDsrFlow = FALSE;
        line.fDtrControl = DTR_CONTROL_ENABLE;
        line.fDsrSensitivity = FALSE;
        line.fTXContinueOnXoff = TRUE;
        line.fOutX = FALSE;
        line.fInX = FALSE;
        line.fErrorChar = FALSE;
        line.fNull = FALSE;
        line.fRtsControl = RTS_CONTROL_ENABLE;
        line.fAbortOnError = FALSE;
    }

    // Takes what the driver holds into the receive buffer. false when the port has gone away.
    // Between polls a one-byte read waits on the line (on Windows' own drivers it returns at once,
    // by the timeouts): on a line that has hung up, a pulled adapter or, under wine, a
    // pseudo-terminal whose other side closed, only a read fails; the driver's state still reads.
    bool readAvailable() {
        if (waiting_) {
            DWORD got = 0;
            if (WaitForSingleObject(wait_.io.hEvent, 0) == WAIT_OBJECT_0) {
                if (!GetOverlappedResult(handle_, &wait_.io, &got, FALSE)) {
                    return false;
                }
            } else if (!renewWait_.hasExpired()) {
                return true;  // no byte yet; what follows it is read once it has come, in order
            } else if (const std::optional<DWORD> done = cancel(&wait_.io)) {
                got = *done;  // a read that waits does not see the line hang up; a new one does
            } else {
                return false;
            }
            waiting_ = false;
            rx_.append(waitByte_, qsizetype(std::min<DWORD>(got, 1)));
        }
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(handle_, &errors, &status)) {
            return false;
        }
        if (status.cbInQue > 0) {
            // The buffer is the control's: a read the driver does not end may fill it after the close.
            chunk_.resize(qsizetype(status.cbInQue));
            OVERLAPPED* io = read_.start();
            DWORD got = 0;
            if (!ReadFile(handle_, chunk_.data(), status.cbInQue, nullptr, io) &&
                GetLastError() != ERROR_IO_PENDING) {
                return false;
            }
            // The bytes are there, so the read ends at once; one that does not is cancelled.
            if (WaitForSingleObject(io->hEvent, kReadLimitMs) == WAIT_OBJECT_0) {
                if (!GetOverlappedResult(handle_, io, &got, FALSE)) {
                    return false;
                }
            } else if (const std::optional<DWORD> done = cancel(io)) {
                got = *done;
            } else {
                return false;
            }
            rx_.append(chunk_.left(qsizetype(got)));
        }
        OVERLAPPED* io = wait_.start();
        if (ReadFile(handle_, waitByte_, 1, nullptr, io)) {
            DWORD got = 0;
            if (GetOverlappedResult(handle_, io, &got, FALSE)) {
                rx_.append(waitByte_, qsizetype(std::min<DWORD>(got, 1)));
            }
            return true;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        waiting_ = true;
        renewWait_.setRemainingTime(kRenewWaitMs);
        return true;
    }

    // The waiting read goes before the port closes, so that it cannot end into a later open.
    void stopWaiting() {
        if (waiting_) {
            cancel(&wait_.io);
            waiting_ = false;
        }
    }

    // Cancels a pending operation and waits a bounded time for it to end: what it moved, or nothing
    // if it did not end.
    std::optional<DWORD> cancel(OVERLAPPED* io) {
        CancelIoEx(handle_, io);
        DWORD done = 0;
        if (WaitForSingleObject(io->hEvent, kCancelLimitMs) != WAIT_OBJECT_0) {
            return std::nullopt;
        }
        if (!GetOverlappedResult(handle_, io, &done, FALSE) && GetLastError() != ERROR_OPERATION_ABORTED) {
            return std::nullopt;
        }
        return done;
    }

    // Keep raising the event while a whole block waits.
    void raiseReceived() {
        if (raising_) {
            return;  // the loop below sees the new bytes
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

    // After a failed write: a port whose state cannot even be read has gone away.
    void checkLine() {
        DWORD errors = 0;
        COMSTAT status{};
        if (PortOpen() && !ClearCommError(handle_, &errors, &status)) {
            lose();
        }
    }

    // The adapter has gone: the port closes at once, without the drain, so the next Output fails,
    // which is how the link notices. There is no line left to protect.
    void lose() {
        poll_.stop();
        stopWaiting();
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        releaseLock();
        rx_.clear();
    }

    // Every close goes through here. The settings the port had before the open are put back, as a
    // closing program does; first the driver's queue must empty and the UART send its last byte
    // (FlushFileBuffers), or the pause byte and the last settings byte, written just before a
    // close, would leave at the old speed or not at all. The wait is bounded, so a stalled adapter
    // is closed all the same.
    void closePort() {
        if (!PortOpen()) {
            return;
        }
        const QDeadlineTimer deadline(kDrainLimitMs);
        bool drained = false;
        for (;;) {
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(handle_, &errors, &status)) {
                break;
            }
            if (status.cbOutQue == 0) {
                drained = true;
                break;
            }
            if (deadline.hasExpired()) {
                break;
            }
            Sleep(1);
        }
        if (drained) {
            FlushFileBuffers(handle_);
        }
        poll_.stop();
        stopWaiting();
        SetCommState(handle_, &saved_);
        SetCommTimeouts(handle_, &savedTimeouts_);
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        releaseLock();
        rx_.clear();
    }

    void releaseLock() {
        if (lock_) {
            ReleaseMutex(lock_);
            CloseHandle(lock_);
            lock_ = nullptr;
        }
    }

    const PortMap& ports_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE lock_ = nullptr;
    Overlapped read_;
    Overlapped write_;
    QTimer poll_;
    DCB saved_{};
    COMMTIMEOUTS savedTimeouts_{};
    QByteArray rx_;
    QByteArray chunk_;
    Overlapped wait_;
    char waitByte_[1] = {};
    bool waiting_ = false;
    QDeadlineTimer renewWait_;
    char outByte_ = 0;
    LineSettings settings_;
    int commPort_ = 1;
    int threshold_ = 0;
    int inputLen_ = 0;
    int event_ = 0;
    bool raising_ = false;
};

}  // namespace

std::unique_ptr<SerialControl> createSystemSerialControl(const PortMap& ports) {
    return std::make_unique<WinSerialControl>(ports);
}

}  // namespace kv
