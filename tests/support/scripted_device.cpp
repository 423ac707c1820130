#include "support/scripted_device.h"

namespace kv::test {

ScriptedDevice::ScriptedDevice(VirtualPlatform& platform, sim::DeviceOptions options)
    : model(options), platform_(platform) {
    platform_.serial->deviceReceives = [this](std::uint8_t byte) { hear(byte); };
    platform_.serial->deviceLineClosed = [this] { model.lineClosed(); };
}

void ScriptedDevice::hear(std::uint8_t byte) {
    const qint64 now = platform_.clock.now();
    for (const sim::TimedByte& b : model.receive(byte, std::chrono::milliseconds(now))) {
        const auto at = std::chrono::ceil<std::chrono::milliseconds>(b.at).count();
        platform_.serial->deliver(QByteArray(1, char(b.value)), at - now);
        ++bytesSent;
    }
}

QByteArray monitoringBlock(const std::array<float, kMonitoringFields>& sample, std::uint8_t status) {
    const MonitoringBytes bytes = encodeMonitoringFrame({sample, status});
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

QByteArray settingsBlock(const SettingsImage& image) {
    const SettingsBytes bytes = settingsToReadLayout(image);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace kv::test
