// The simulated device inside the program, behind the serial-control seam: for systems without
// pseudo-terminals (Windows). Its serial controls hand each byte written to the device model at
// once and take the model's answer back byte by byte at its 19200-baud times (to the next whole
// millisecond) through the platform's timers, raising OnComm as a port does. Like a port, the line
// is held by one control at a time, and what is on its way when the line closes is lost.
#pragma once

#include "core/platform/qt_system.h"
#include "simulator/device_model.h"

namespace kv::sim {

class InProcessLine;

// The name of the port the device stands in for, in messages and records.
inline constexpr const char* kInProcessPortName = "simulated";

class InProcessDevice : public InProcessPort {
  public:
    explicit InProcessDevice(SystemPlatform& platform, DeviceOptions options = {});
    ~InProcessDevice() override;

    DeviceModel& model() { return model_; }
    // Gone like a pulled adapter: the control holding the line loses its port, and none opens again.
    void vanish();

    bool present() const override { return !model_.vanished(); }
    std::unique_ptr<SerialControl> createSerialControl() override;
    QString description() const override;

  private:
    friend class InProcessLine;
    Micros now() const;

    SystemPlatform& platform_;
    DeviceModel model_;
    qint64 startMs_;
    InProcessLine* holder_ = nullptr;  // the control with the line open
};

}  // namespace kv::sim
