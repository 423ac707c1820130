// Every byte exchanged with the KestroVar: the one-byte commands, the device float, the 25-byte
// monitoring frame and the 43-byte settings image in its read and write layouts. The device's
// blocks carry no header or checksum; they are told apart by their length alone.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace kv {

inline constexpr std::uint8_t requestSample = 0x01;
inline constexpr std::uint8_t requestSettings = 0x02;
inline constexpr std::uint8_t writeSettings = 0x03;
inline constexpr std::uint8_t togglePause = 0x04;

inline constexpr std::size_t kMonitoringFrameSize = 25;
inline constexpr std::size_t kSettingsImageSize = 43;

// ---- the protocol's waits, in milliseconds ---------------------------------------------------
inline constexpr int kPollIntervalMs = 700;       // between two requestSample while monitoring
inline constexpr int kWatchdogMs = 1200;          // no frame for this long: the link has failed
inline constexpr int kWriteCommandPauseMs = 700;  // after writeSettings, before the 43 bytes
inline constexpr int kSettleWaitMs = 1000;        // for the device to take or give a settings image
// The longest the rest of a monitoring frame can take on the line at 19200 baud: 24 bytes of ten
// bits. (A settings image is asked for only on a freshly opened port, with nothing left over.)
inline constexpr int kAnswerTailMs = 13;

// ---- the device float ------------------------------------------------------------------------
// An IEEE 754 single with the sign and the exponent's lowest bit swapped into other places
// (the Microchip 32-bit layout), least significant byte first:
//   b0 mantissa 7..0, b1 mantissa 15..8, b2 sign | mantissa 22..16, b3 exponent.
using DeviceFloatBytes = std::array<std::uint8_t, 4>;

float decodeDeviceFloat(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3);
float decodeDeviceFloat(std::span<const std::uint8_t, 4> bytes);
// Exact inverse of the decoding for every bit pattern, NaN payloads included.
DeviceFloatBytes encodeDeviceFloat(float value);

// ---- the monitoring frame --------------------------------------------------------------------

// The six readings in frame order; they index `monitoringSample`.
enum MonitoringField : int { inputVoltage, inputTemp, dewPoint, outputVoltage, modifiedTemp, outputTemp };
inline constexpr int kMonitoringFields = 6;

struct MonitoringFrame {
    std::array<float, kMonitoringFields> sample{};
    std::uint8_t correctionActive = 0;  // byte 24: 1 = active, any other value = not active
};

using MonitoringBytes = std::array<std::uint8_t, kMonitoringFrameSize>;
MonitoringFrame decodeMonitoringFrame(std::span<const std::uint8_t, kMonitoringFrameSize> bytes);
MonitoringBytes encodeMonitoringFrame(const MonitoringFrame& frame);

// ---- the settings image ----------------------------------------------------------------------

// The calibration: the 43 values as the device keeps them, one byte each.
struct Calibration {
    std::array<std::uint8_t, 5> col{};      // MCT temperature breakpoints, °F
    std::array<std::uint8_t, 6> row{};      // dew-point breakpoints, °F
    std::array<std::uint8_t, 30> matrix{};  // the table, row by row: matrix[5 * r + c]
    std::uint8_t delay = 0;                 // startup delay in half minutes
    std::uint8_t correctionSwitch = 0;      // 1 = "Yes", 0 = "No"

    float delayMinutes() const { return float(delay) / 2.0f; }

    bool operator==(const Calibration&) const = default;
};
// The same 43 values as they travel in a settings image.
using SettingsImage = Calibration;

using SettingsBytes = std::array<std::uint8_t, kSettingsImageSize>;

// Device to program, the answer to requestSettings: col, row, matrix, delay, switch.
SettingsImage settingsFromReadLayout(std::span<const std::uint8_t, kSettingsImageSize> bytes);
SettingsBytes settingsToReadLayout(const SettingsImage& image);
// Program to device, after writeSettings: delay, switch, col, row, matrix.
SettingsImage settingsFromWriteLayout(std::span<const std::uint8_t, kSettingsImageSize> bytes);
SettingsBytes settingsToWriteLayout(const SettingsImage& image);

}  // namespace kv
