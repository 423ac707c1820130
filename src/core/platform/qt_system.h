// The production system: the serial control (QSerialPort, or on Windows our own Win32 control),
// QTimer, sleeps, the wall clock and the file system.
#pragma once

#include "core/platform/port_info.h"
#include "core/platform/port_map.h"
#include "core/platform/system.h"

#include <QObject>
#include <QStringList>

#include <array>

namespace kv {

// A device inside the program that stands in for one port: the simulated device on a system
// without pseudo-terminals.
class InProcessPort {
  public:
    virtual ~InProcessPort() = default;
    virtual bool present() const = 0;
    // A serial control whose line leads to the device. The device outlives every control.
    virtual std::unique_ptr<SerialControl> createSerialControl() = 0;
    // Its description among the adapters.
    virtual QString description() const = 0;
};

// The system's own serial control for the ports of `ports`: QSerialPort, on Windows the Win32 API.
std::unique_ptr<SerialControl> createSystemSerialControl(const PortMap& ports);

// The program's command line, argv[0] first, as the user typed it (on Windows also the letters the
// ANSI code page lacks).
QStringList commandLineWords(int argc, char** argv);
// Sets an environment variable for this process and the programs it starts, any letters kept.
void setEnvironmentText(const char* name, const QString& value);

class QtSystemPlatform : public virtual SystemPlatform {
  public:
    explicit QtSystemPlatform(PortMap ports);

    std::unique_ptr<SerialControl> createSerialControl() override;
    std::unique_ptr<IntervalTimer> createTimer() override;
    void doEvents() override;
    void sleep(int ms) override;
    void waitUntil(const std::function<bool()>& done, int timeoutMs) override;
    qint64 nowMs() const override;
    qint64 steadyMs() const override;
    bool portExists(int port) override;
    QString portSystemName(int port) const override;
    std::optional<PortStatus> portProblem(int port) override;
    AdapterInfo portAdapter(int port) override;
    void printNotice(const QString& text) override;
    std::optional<QByteArray> readBinaryFile(const QString& path) override;
    bool writeBinaryFile(const QString& path, const QByteArray& bytes) override;
    std::optional<QByteArray> readTextFile(const QString& path, FileError* error) override;
    bool writeTextFileAtomically(const QString& path, const QByteArray& content, FileError* error) override;
    void endProcess() override;

    PortMap& ports() { return ports_; }
    // From now on, port `port` is `device` (nothing: the system's port again). Set before the
    // first serial control is created; the device outlives the platform.
    void setInProcessPort(int port, InProcessPort* device);

  private:
    PortMap ports_;
    int inProcessPort_ = 0;
    InProcessPort* inProcess_ = nullptr;
    // What each port's latest probe found.
    std::array<PortStatus, kLastPort + 1> probes_{};
};

// Parses line settings such as "19200,N,8,1"; the defaults are the device's own line.
struct LineSettings {
    int baud = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    static std::optional<LineSettings> parse(const QString& text);
    bool operator==(const LineSettings&) const = default;
};

}  // namespace kv
