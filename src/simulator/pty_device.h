// The simulated device behind the master side of a pseudo-terminal: a program opens the slave
// path like any serial port and talks to the device model through its ordinary serial stack.
// Runs on the Qt event loop of the thread that creates it. Unix only.
#pragma once

// Tested with the compiler's own macros, which moc sees as well.
#if defined(__unix__) || defined(__APPLE__)
#define KV_HAS_PTY_DEVICE 1

#include "simulator/device_model.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

namespace kv::sim {

class PtyDevice : public QObject {
    Q_OBJECT
  public:
    explicit PtyDevice(DeviceOptions options = {}, QObject* parent = nullptr);
    ~PtyDevice() override;

    // Creates the pseudo-terminal. false, with the reason, when the system has none to give.
    bool start(QString* error = nullptr);
    // The path a program opens, such as /dev/pts/4; empty before start and after vanish.
    QString slavePath() const { return slavePath_; }

    DeviceModel& model() { return model_; }
    // Whether the program's side is open: it has set the line to 19200 baud.
    bool programSideOpen() const;
    // The bytes the device has heard so far, in order.
    const std::vector<std::uint8_t>& heard() const { return heard_; }

    // The device disappears like a pulled adapter: the pseudo-terminal closes.
    void vanish();

  Q_SIGNALS:
    void vanished();

  private:
    void readFromProgram();
    void sendDue();
    void watchLine();
    void scheduleSend();
    void closeAll();
    Micros now() const { return Micros(clock_.nsecsElapsed() / 1000); }

    DeviceModel model_;
    QString slavePath_;
    int master_ = -1;
    int slave_ = -1;  // held open so that the master never sees a hang-up between the program's opens
    std::unique_ptr<QSocketNotifier> readable_;
    QTimer sendTimer_;
    QTimer lineWatch_;
    QElapsedTimer clock_;
    std::deque<TimedByte> outgoing_;
    std::vector<std::uint8_t> heard_;
    bool lineWasOpen_ = false;
};

}  // namespace kv::sim

#endif
