// The simulated device on the far side of the fake serial control, in virtual time: every byte the
// program writes reaches the device model at once, and its answer arrives byte by byte at the
// model's 19200-baud times (rounded up to whole milliseconds), if the port is still open then.
#pragma once

#include "simulator/device_model.h"
#include "support/virtual_platform.h"

namespace kv::test {

class ScriptedDevice {
  public:
    ScriptedDevice(VirtualPlatform& platform, sim::DeviceOptions options = {});

    sim::DeviceModel model;
    int bytesSent = 0;

  private:
    void hear(std::uint8_t byte);

    VirtualPlatform& platform_;
};

// A 25-byte monitoring frame with the given readings and status byte.
QByteArray monitoringBlock(const std::array<float, kMonitoringFields>& sample, std::uint8_t status);
// The 43-byte settings image in its read layout.
QByteArray settingsBlock(const SettingsImage& image);

}  // namespace kv::test
