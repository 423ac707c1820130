// A simulated KestroVar, free of I/O and of any event loop: it is told which bytes reached it and
// when, and answers with the bytes it sends back, each stamped with the moment its last bit has
// arrived. The pseudo-terminal front and the virtual-time tests both drive it.
#pragma once

#include "protocol/device_protocol.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kv::sim {

using Micros = std::chrono::microseconds;

// 19200 baud with a start and a stop bit: ten bit times per byte, about 0.52 ms.
inline constexpr int kBaud = 19200;
inline constexpr int kBitsPerByte = 10;
// When byte `index` (0-based) of an answer whose first bit leaves at `start` has arrived.
Micros byteArrival(Micros start, std::size_t index);

struct TimedByte {
    Micros at;
    std::uint8_t value;
    bool operator==(const TimedByte&) const = default;
};

struct DeviceOptions {
    std::chrono::milliseconds replyDelay{20};
    std::uint64_t seed = 1;  // which slow drift of temperature and dew point
};

// The calibration the simulated device comes with.
SettingsImage factorySettings();

// The modified MCT temperature the calibration gives for an input temperature and a dew point.
double correctedTemperature(const SettingsImage& settings, double inputTempF, double dewPointF);

// The linear characteristic of the simulated MCT sensor: 0.5 V at 0 °F, 10 mV per °F, 0 to 5 V.
float mctVoltage(double temperatureF);

class DeviceModel {
  public:
    explicit DeviceModel(DeviceOptions options = {});

    // Bytes from the program reach the device at `now`. Returns what it sends back.
    std::vector<TimedByte> receive(std::span<const std::uint8_t> bytes, Micros now);
    std::vector<TimedByte> receive(std::uint8_t byte, Micros now) {
        return receive(std::span(&byte, 1), now);
    }
    // The program's side of the line closed: a settings write in progress is abandoned and the
    // line is free again (whatever was still to be sent is lost with the closed port).
    void lineClosed();

    // The readings at a moment: temperature and dew point drift slowly and deterministically.
    MonitoringFrame sampleAt(Micros now) const;

    const SettingsImage& settings() const { return settings_; }
    void setSettings(const SettingsImage& settings) { settings_ = settings; }
    bool correctionPaused() const { return paused_; }
    bool correctionActive() const { return settings_.correctionSwitch == 1 && !paused_; }
    void setReplyDelay(std::chrono::milliseconds delay) { options_.replyDelay = delay; }
    std::chrono::milliseconds replyDelay() const { return options_.replyDelay; }

    // ---- faults on request ----
    void setSilent(bool silent) { silent_ = silent; }                             // answers nothing
    void setExtraDelay(std::chrono::milliseconds extra) { extraDelay_ = extra; }  // answers late
    void dropByteOfNextAnswer() { ++dropByte_; }  // the next answer is a byte short
    void addByteToNextAnswer() { ++extraByte_; }  // the next answer has one byte more
    void garbleNextAnswer() { ++garbage_; }       // the next answer is noise of its length
    void vanish() { vanished_ = true; }           // gone for good
    bool answerSpoilPending() const { return dropByte_ + extraByte_ + garbage_ > 0; }
    bool vanished() const { return vanished_; }
    bool silent() const { return silent_; }
    std::chrono::milliseconds extraDelay() const { return extraDelay_; }

    // ---- what the device heard, for tests ----
    int samplesRequested = 0;
    int settingsRequested = 0;
    int settingsWritten = 0;
    int pauseToggles = 0;

  private:
    std::vector<TimedByte> answer(std::vector<std::uint8_t> bytes, Micros now);
    std::uint8_t noise();

    DeviceOptions options_;
    SettingsImage settings_;
    bool paused_ = false;
    std::optional<std::vector<std::uint8_t>> incomingWrite_;  // the data bytes after writeSettings
    Micros lastByteAt_{0};
    Micros lineFreeAt_{0};

    bool silent_ = false;
    bool vanished_ = false;
    std::chrono::milliseconds extraDelay_{0};
    int dropByte_ = 0;
    int extraByte_ = 0;
    int garbage_ = 0;
    std::uint64_t noiseState_;
};

}  // namespace kv::sim
