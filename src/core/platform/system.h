// The seams between the program's logic and the system. The logic never touches QSerialPort, QTimer,
// sleeps or the file system directly; production uses the Qt implementations in qt_system.h, tests
// use the virtual-time doubles under tests/support. The user-interface seams (message boxes, file
// dialogs) are in gui/platform.h.
#pragma once

#include "core/platform/port_info.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kv {

// Event codes reported through SerialControl::CommEvent().
enum CommEventCode : int {
    comEvReceive = 2,
    comEvBreak = 1001,
    comEvFrame = 1004,
    comEvOverrun = 1006,
    comEvRxOver = 1008,
    comEvRxParity = 1009,
};

// The serial control. Members keep the names the window logic is written against.
class SerialControl {
  public:
    virtual ~SerialControl() = default;

    // Port number 1..16; only changed while the port is closed.
    virtual void setCommPort(int port) = 0;
    virtual int CommPort() const = 0;
    // Line settings such as "19200,N,8,1"; used by every later open.
    virtual void setSettings(const QString& settings) = 0;

    virtual bool PortOpen() const = 0;
    // true opens (the receive buffer starts empty), false closes (a byte just written goes out
    // first). Returns false when an open fails: missing, in use, no permission.
    virtual bool setPortOpen(bool open) = 0;

    // OnComm is raised with comEvReceive once at least RThreshold bytes wait.
    virtual void setRThreshold(int bytes) = 0;
    // Input() returns at most this many bytes; the rest stays buffered.
    virtual void setInputLen(int bytes) = 0;

    // Sends one byte, unchanged. Returns false when the port is closed or has gone away.
    virtual bool Output(std::uint8_t byte) = 0;
    virtual QByteArray Input() = 0;
    // Bytes waiting in the receive buffer.
    virtual int InBufferCount() const = 0;
    // Throws away every byte waiting, those still in the driver too.
    virtual void discardInBuffer() = 0;
    // The code of the event being reported while OnComm runs.
    virtual int CommEvent() const = 0;

    // Raised on the UI thread for every reported event.
    std::function<void()> OnComm;
};

// An interval timer with an enabled flag. Enabling a disabled timer starts a full interval;
// enabling an enabled one changes nothing, so a restart is disable-then-enable.
class IntervalTimer {
  public:
    virtual ~IntervalTimer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int Interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool Enabled() const = 0;
    // Milliseconds until the next tick; -1 while disabled.
    virtual int RemainingMs() const = 0;

    std::function<void()> onTimer;
};

struct FileError {
    QString message;  // why, in words a user understands
};

class SystemPlatform {
  public:
    virtual ~SystemPlatform() = default;

    virtual std::unique_ptr<SerialControl> createSerialControl() = 0;
    virtual std::unique_ptr<IntervalTimer> createTimer() = 0;

    // Let pending window, timer and port events run, then return.
    virtual void doEvents() = 0;
    // Block the UI thread; nothing runs meanwhile.
    virtual void sleep(int ms) = 0;
    // Lets events run (port, timers) until done() holds or timeoutMs have passed, waiting for
    // events rather than spinning. done() is checked after every event.
    virtual void waitUntil(const std::function<bool()>& done, int timeoutMs) = 0;
    // The wall clock: milliseconds since 1970-01-01 UTC.
    virtual qint64 nowMs() const = 0;
    // A clock that only ever goes forward, also across a suspend; milliseconds from an arbitrary
    // start. For ordering and spacing events whatever the wall clock does.
    virtual qint64 steadyMs() const = 0;

    // Whether port n (1..16) can be opened right now. Nothing is written, no line setting changes.
    virtual bool portExists(int port) = 0;
    // The system's name for port n: "COM3" on Windows, a device path elsewhere.
    virtual QString portSystemName(int port) const = 0;
    // Why port n was not usable at its latest portExists probe although its device is there: its
    // state (NoPermission, InUse) and, in words for the user naming its path, what is wrong and
    // what to do about it; nothing when that probe opened the port or found no device. Answers
    // from that probe: it opens nothing itself.
    virtual std::optional<PortStatus> portProblem(int port) = 0;
    // The adapter behind port n as the system describes it. Opens nothing.
    virtual AdapterInfo portAdapter(int port) = 0;

    // One line for the person who started the program, on the standard error stream.
    virtual void printNotice(const QString& text) = 0;

    // Binary access: opening creates an empty file when there is none and never shortens one.
    // readBinaryFile returns the whole content, or nothing when the file cannot be opened.
    virtual std::optional<QByteArray> readBinaryFile(const QString& path) = 0;
    // Writes bytes at offset 0, keeping whatever lies beyond them. false when it cannot.
    virtual bool writeBinaryFile(const QString& path, const QByteArray& bytes) = 0;

    // Whole-file text access for calibration files.
    virtual std::optional<QByteArray> readTextFile(const QString& path, FileError* error) = 0;
    // Replaces the file only once the new content is completely written.
    virtual bool writeTextFileAtomically(const QString& path, const QByteArray& content,
                                         FileError* error) = 0;

    // Ends the process at once; no close handler runs afterwards.
    virtual void endProcess() = 0;
};

}  // namespace kv
