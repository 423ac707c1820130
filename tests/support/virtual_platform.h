// Test doubles for the platform: a virtual clock that owns timers, sleeps and the arrival of serial
// bytes, a serial control that records the wire, recorded message boxes, a scripted file dialog and
// in-memory files. Timing behaviour runs in virtual time: exact, fast and independent of the machine.
#pragma once

#include "gui/platform.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace kv::test {

class VirtualClock {
  public:
    using Callback = std::function<void()>;

    qint64 now() const { return now_; }
    std::uint64_t schedule(qint64 due, Callback callback);
    void cancel(std::uint64_t id);

    // Runs every event due now, in time order: what letting pending events run does.
    void runDue();
    // Lets time pass in the event loop: runs events in time order up to `until`.
    void advanceTo(qint64 until);
    void advanceBy(qint64 ms) { advanceTo(now_ + ms); }
    // Runs the next event due by `until`, letting time pass up to it; false when there is none.
    bool step(qint64 until) { return runNext(until); }
    // A blocking sleep: time passes, nothing runs.
    void sleep(qint64 ms) { now_ += ms; }

  private:
    struct Key {
        qint64 due;
        std::uint64_t seq;
        bool operator<(const Key& other) const {
            return due != other.due ? due < other.due : seq < other.seq;
        }
    };
    bool runNext(qint64 until);

    std::map<Key, Callback> queue_;
    std::map<std::uint64_t, Key> keys_;
    qint64 now_ = 0;
    std::uint64_t seq_ = 0;
};

class VirtualTimer : public IntervalTimer {
  public:
    explicit VirtualTimer(VirtualClock& clock) : clock_(clock) {}
    ~VirtualTimer() override;

    void setInterval(int ms) override;
    int Interval() const override { return interval_; }
    void setEnabled(bool enabled) override;
    bool Enabled() const override { return enabled_; }
    int RemainingMs() const override;

    int fires = 0;  // how often the handler ran

  private:
    void arm(qint64 due);
    void fire(qint64 due);

    VirtualClock& clock_;
    int interval_ = 0;
    bool enabled_ = false;
    // Like Qt, a timer never interrupts its own handler; but stopped and started again it is a new
    // timer to Qt, which may fire inside that handler's nested event loop (a modal message box).
    int start_ = 0;          // counts starts
    int runningStart_ = -1;  // the start whose handler is running, -1 when none
    std::uint64_t pending_ = 0;
    qint64 due_ = 0;
};

class VirtualPlatform;

struct WireEvent {
    enum Kind { Open, OpenFailed, Close, Write, WriteFailed, Lost };
    qint64 time;
    Kind kind;
    int port;
    std::uint8_t byte;
};

class FakeSerial : public SerialControl {
  public:
    explicit FakeSerial(VirtualPlatform& platform) : platform_(platform) {}

    void setCommPort(int port) override { commPort_ = port; }
    int CommPort() const override { return commPort_; }
    void setSettings(const QString& settings) override { settings_ = settings; }
    bool PortOpen() const override { return open_; }
    bool setPortOpen(bool open) override;
    void setRThreshold(int bytes) override { threshold_ = bytes; }
    void setInputLen(int bytes) override { inputLen_ = bytes; }
    bool Output(std::uint8_t byte) override;
    QByteArray Input() override;
    int InBufferCount() const override { return int(rx_.size()); }
    void discardInBuffer() override { rx_.clear(); }
    int CommEvent() const override { return event_; }

    // ---- the far side, for tests ----
    // The scripted device hears every byte that reaches the wire, and learns when the line closes.
    std::function<void(std::uint8_t)> deviceReceives;
    std::function<void()> deviceLineClosed;
    // Bytes reach the receive buffer `delayMs` from now, if the port is open then.
    void deliver(const QByteArray& bytes, qint64 delayMs = 0);
    // Reports a line-status or other event code.
    void raiseEvent(int code);
    // The adapter is pulled out: the port closes and cannot be opened again until it returns.
    void vanish();

    std::vector<WireEvent> log;
    // Bytes written, in order, since the test started (or since clearLog()).
    QByteArray written() const;
    std::vector<std::pair<qint64, std::uint8_t>> writes() const;
    void clearLog() { log.clear(); }

    QString settings() const { return settings_; }
    int threshold() const { return threshold_; }
    int inputLen() const { return inputLen_; }
    qsizetype buffered() const { return rx_.size(); }

  private:
    void raiseReceived();

    VirtualPlatform& platform_;
    QString settings_;
    QByteArray rx_;
    int commPort_ = 1;
    int threshold_ = 0;
    int inputLen_ = 0;
    int event_ = 0;
    bool open_ = false;
    bool raising_ = false;
};

class VirtualPlatform : public Platform {
  public:
    VirtualPlatform();

    std::unique_ptr<SerialControl> createSerialControl() override;
    std::unique_ptr<IntervalTimer> createTimer() override;
    void doEvents() override;
    void sleep(int ms) override;
    void waitUntil(const std::function<bool()>& done, int timeoutMs) override;
    // Virtual time on a wall clock that starts at 2026-12-09 08:00 UTC.
    qint64 nowMs() const override { return wallClockBaseMs + clock.now(); }
    // Virtual time itself; setting the wall clock (wallClockBaseMs) does not move it.
    qint64 steadyMs() const override { return clock.now(); }
    void messageBox(QWidget* parent, const QString& text) override;
    std::optional<QString> fileDialog(QWidget* parent, FileDialogKind kind,
                                      const FileDialogOptions& options) override;
    // The next of inputAnswers (nothing: cancelled), its label kept in inputLabels.
    std::optional<QString> inputText(QWidget*, const QString&, const QString& label,
                                     const QString&) override {
        inputLabels << label;
        if (inputAnswers.empty()) {
            return std::nullopt;
        }
        std::optional<QString> answer = inputAnswers.front();
        inputAnswers.pop_front();
        return answer;
    }
    std::deque<std::optional<QString>> inputAnswers;
    QStringList inputLabels;
    bool portExists(int port) override;
    QString portSystemName(int port) const override;
    std::optional<PortStatus> portProblem(int port) override;
    AdapterInfo portAdapter(int port) override;
    void printNotice(const QString& text) override { notices.push_back({clock.now(), text}); }
    std::optional<QByteArray> readBinaryFile(const QString& path) override;
    bool writeBinaryFile(const QString& path, const QByteArray& bytes) override;
    std::optional<QByteArray> readTextFile(const QString& path, FileError* error) override;
    bool writeTextFileAtomically(const QString& path, const QByteArray& content, FileError* error) override;
    void endProcess() override { ended = true; }

    VirtualClock clock;
    // Called with every serial control the program creates, before it is used.
    std::function<void(FakeSerial&)> onSerialCreated;
    // When set, makes the program's serial controls instead of FakeSerial (serial stays null).
    std::function<std::unique_ptr<SerialControl>()> makeSerialControl;
    qint64 wallClockBaseMs = 1796803200000;
    FakeSerial* serial = nullptr;  // the serial control the window created

    // Ports that can be opened right now, and their system names (default "COMn").
    std::set<int> presentPorts;
    std::map<int, QString> portNames;
    std::vector<int> probes;
    std::set<int> unopenable;  // present in the menu, but an open fails (in use)
    // Devices that are there but refuse the probe, with the reason portProblem gives. Such a port
    // counts as absent whether or not it is in presentPorts.
    std::map<int, QString> portProblems;
    std::set<int> portsInUse;         // of those, the ones another program holds; the rest lack permission
    std::vector<int> problemQueries;  // the ports portProblem was asked about, in order
    // What the system tells about each adapter; the path is always portSystemName.
    std::map<int, AdapterInfo> adapters;

    struct Notice {
        qint64 time;
        QString text;
    };
    std::vector<Notice> notices;  // lines printed for the user on the standard error stream

    struct Message {
        qint64 time;
        QString text;
    };
    std::vector<Message> messages;
    QStringList messageTexts() const;
    // How long the user takes to press OK; the event loop runs meanwhile, as under a modal box.
    qint64 messageHoldMs = 0;
    std::function<void(const QString&)> onMessageBox;

    std::vector<std::pair<qint64, int>> sleeps;  // (start, ms)
    int doEventsCalls = 0;

    struct DialogCall {
        qint64 time;
        FileDialogKind kind;
        FileDialogOptions options;
    };
    std::vector<DialogCall> dialogs;
    std::deque<std::optional<QString>> dialogAnswers;  // nothing = cancel; an empty queue cancels too

    std::map<QString, QByteArray> files;
    std::set<QString> unreadable;
    std::set<QString> unwritable;
    int binaryWrites = 0;
    bool ended = false;

  private:
    std::map<int, bool> lastProbeFailed_;
};

}  // namespace kv::test
