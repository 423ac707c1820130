// The production system: QSerialPort, QTimer, sleeps, the wall clock and the file system.
#pragma once

#include "core/platform/port_info.h"
#include "core/platform/port_map.h"
#include "core/platform/system.h"

#include <QObject>

#include <array>

namespace kv {

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

  private:
    PortMap ports_;
    // What each port's latest probe found.
    std::array<PortStatus, kLastPort + 1> probes_{};
};

// Parses line settings such as "19200,N,8,1".
struct LineSettings {
    int baud = 19200;
    char parity = 'N';
    int dataBits = 8;
    int stopBits = 1;
    static std::optional<LineSettings> parse(const QString& text);
};

}  // namespace kv
