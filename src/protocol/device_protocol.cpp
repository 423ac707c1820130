#include "protocol/device_protocol.h"

#include <algorithm>
#include <bit>

namespace kv {

float decodeDeviceFloat(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
    const std::uint32_t x0 = b0;
    const std::uint32_t x1 = b1;
    const std::uint32_t x2 = (b2 & 0x7Fu) | ((b3 & 0x01u) << 7);
    const std::uint32_t x3 = (b3 >> 1) | (b2 & 0x80u);
    return std::bit_cast<float>(x0 | (x1 << 8) | (x2 << 16) | (x3 << 24));
}

float decodeDeviceFloat(std::span<const std::uint8_t, 4> bytes) {
    return decodeDeviceFloat(bytes[0], bytes[1], bytes[2], bytes[3]);
}

DeviceFloatBytes encodeDeviceFloat(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const auto x2 = std::uint8_t(bits >> 16);
    const auto x3 = std::uint8_t(bits >> 24);
    return {std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t((x2 & 0x7Fu) | (x3 & 0x80u)),
            std::uint8_t((x3 << 1) | (x2 >> 7))};
}

MonitoringFrame decodeMonitoringFrame(std::span<const std::uint8_t, kMonitoringFrameSize> bytes) {
    MonitoringFrame frame;
    for (int i = 0; i < kMonitoringFields; ++i) {
        frame.sample[i] = decodeDeviceFloat(bytes.subspan(4 * i).first<4>());
    }
    frame.correctionActive = bytes[24];
    return frame;
}

MonitoringBytes encodeMonitoringFrame(const MonitoringFrame& frame) {
    MonitoringBytes bytes{};
    for (int i = 0; i < kMonitoringFields; ++i) {
        const DeviceFloatBytes f = encodeDeviceFloat(frame.sample[i]);
        std::copy(f.begin(), f.end(), bytes.begin() + 4 * i);
    }
    bytes[24] = frame.correctionActive;
    return bytes;
}

namespace {

// The grid values sit together in both layouts; only where they start differs.
constexpr std::size_t kReadGrid = 0;
constexpr std::size_t kReadDelay = 41;
constexpr std::size_t kReadSwitch = 42;
constexpr std::size_t kWriteDelay = 0;
constexpr std::size_t kWriteSwitch = 1;
constexpr std::size_t kWriteGrid = 2;

void gridFrom(std::span<const std::uint8_t> grid, SettingsImage& image) {
    std::copy_n(grid.begin(), image.col.size(), image.col.begin());
    std::copy_n(grid.begin() + 5, image.row.size(), image.row.begin());
    std::copy_n(grid.begin() + 11, image.matrix.size(), image.matrix.begin());
}

void gridTo(const SettingsImage& image, std::span<std::uint8_t> grid) {
    auto out = std::copy(image.col.begin(), image.col.end(), grid.begin());
    out = std::copy(image.row.begin(), image.row.end(), out);
    std::copy(image.matrix.begin(), image.matrix.end(), out);
}

}  // namespace

SettingsImage settingsFromReadLayout(std::span<const std::uint8_t, kSettingsImageSize> bytes) {
    SettingsImage image;
    gridFrom(bytes.subspan(kReadGrid), image);
    image.delay = bytes[kReadDelay];
    image.correctionSwitch = bytes[kReadSwitch];
    return image;
}

SettingsBytes settingsToReadLayout(const SettingsImage& image) {
    SettingsBytes bytes{};
    gridTo(image, std::span(bytes).subspan(kReadGrid));
    bytes[kReadDelay] = image.delay;
    bytes[kReadSwitch] = image.correctionSwitch;
    return bytes;
}

SettingsImage settingsFromWriteLayout(std::span<const std::uint8_t, kSettingsImageSize> bytes) {
    SettingsImage image;
    image.delay = bytes[kWriteDelay];
    image.correctionSwitch = bytes[kWriteSwitch];
    gridFrom(bytes.subspan(kWriteGrid), image);
    return image;
}

SettingsBytes settingsToWriteLayout(const SettingsImage& image) {
    SettingsBytes bytes{};
    bytes[kWriteDelay] = image.delay;
    bytes[kWriteSwitch] = image.correctionSwitch;
    gridTo(image, std::span(bytes).subspan(kWriteGrid));
    return bytes;
}

}  // namespace kv
