// The wire format: the device float, the monitoring frame and the two layouts of the settings image.
#include "protocol/device_protocol.h"

#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

#include <gtest/gtest.h>

namespace kv {
namespace {

std::uint32_t bitsOf(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

TEST(DeviceFloat, DecodesTheDeviceLayout) {
    struct Case {
        const char* what;
        DeviceFloatBytes bytes;
        float expected;  // compared bit for bit, so the sign of zero counts
    };
    const float smallestDenormal = std::numeric_limits<float>::denorm_min();
    const float largestDenormal = std::nextafter(std::numeric_limits<float>::min(), 0.0f);
    const Case cases[] = {
        {"2.5", {0x00, 0x00, 0x20, 0x80}, 2.5f},
        {"-40.0", {0x00, 0x00, 0xA0, 0x84}, -40.0f},
        {"zero", {0x00, 0x00, 0x00, 0x00}, 0.0f},
        {"one: the exponent's lowest bit comes from byte 3", {0x00, 0x00, 0x00, 0x7F}, 1.0f},
        {"negative zero: sign bit alone", {0x00, 0x00, 0x80, 0x00}, -0.0f},
        {"smallest denormal", {0x01, 0x00, 0x00, 0x00}, smallestDenormal},
        {"largest denormal", {0xFF, 0xFF, 0x7F, 0x00}, largestDenormal},
        {"negative denormal", {0x01, 0x00, 0x80, 0x00}, -smallestDenormal},
        {"largest finite", {0xFF, 0xFF, 0x7F, 0xFE}, std::numeric_limits<float>::max()},
        {"exponent 255, no mantissa: infinity",
         {0x00, 0x00, 0x00, 0xFF},
         std::numeric_limits<float>::infinity()},
        {"exponent 255, negative", {0x00, 0x00, 0x80, 0xFF}, -std::numeric_limits<float>::infinity()},
        {"112.3", {0x9A, 0x99, 0x60, 0x85}, 112.3f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const float decoded = decodeDeviceFloat(c.bytes);
        EXPECT_EQ(bitsOf(decoded), bitsOf(c.expected)) << decoded;
        EXPECT_EQ(decodeDeviceFloat(c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]), decoded);
        EXPECT_EQ(encodeDeviceFloat(c.expected), c.bytes);
    }
}

TEST(DeviceFloat, ExponentByte255WithMantissaIsNaN) {
    for (const DeviceFloatBytes bytes :
         {DeviceFloatBytes{0x00, 0x00, 0x40, 0xFF}, DeviceFloatBytes{0x01, 0x00, 0x00, 0xFF},
          DeviceFloatBytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
        EXPECT_TRUE(std::isnan(decodeDeviceFloat(bytes)));
    }
}

TEST(DeviceFloat, EncodingInvertsDecodingForEveryPlacementOfSignAndExponent) {
    // Bytes 2 and 3 carry everything the layout moves; every pair of them is checked.
    for (int b2 = 0; b2 < 256; ++b2) {
        for (int b3 = 0; b3 < 256; ++b3) {
            for (const std::uint8_t low : {0x00, 0x5A, 0xFF}) {
                const DeviceFloatBytes bytes{low, std::uint8_t(low ^ 0x3C), std::uint8_t(b2),
                                             std::uint8_t(b3)};
                ASSERT_EQ(encodeDeviceFloat(decodeDeviceFloat(bytes)), bytes);
            }
        }
    }
}

TEST(DeviceFloat, SignAndExponentLandWhereTheDeviceExpectsThem) {
    // Sign in bit 7 of byte 2, the whole biased exponent in byte 3.
    for (const float f : {1.0f, -1.0f, 3.0e38f, -1.0e-38f, 0.15625f}) {
        const DeviceFloatBytes bytes = encodeDeviceFloat(f);
        EXPECT_EQ(bytes[2] >> 7, std::signbit(f) ? 1 : 0) << f;
        EXPECT_EQ(bytes[3], (bitsOf(f) >> 23) & 0xFF) << f;
    }
}

MonitoringBytes frameBytes(std::initializer_list<DeviceFloatBytes> values, std::uint8_t status) {
    MonitoringBytes bytes{};
    auto out = bytes.begin();
    for (const DeviceFloatBytes& v : values) {
        out = std::copy(v.begin(), v.end(), out);
    }
    bytes[24] = status;
    return bytes;
}

TEST(MonitoringFrame, FieldsComeInFrameOrder) {
    const MonitoringBytes bytes = frameBytes({{0x00, 0x00, 0x20, 0x80},   // input voltage 2.5
                                              {0x00, 0x00, 0x20, 0x85},   // input temp 80
                                              {0x00, 0x00, 0xA0, 0x84},   // dew point -40
                                              {0x00, 0x00, 0x40, 0x80},   // output voltage 3
                                              {0x00, 0x00, 0x28, 0x85},   // modified temp 84
                                              {0x00, 0x00, 0x00, 0x00}},  // output temp 0
                                             1);
    const MonitoringFrame frame = decodeMonitoringFrame(bytes);
    EXPECT_EQ(frame.sample[inputVoltage], 2.5f);
    EXPECT_EQ(frame.sample[inputTemp], 80.0f);
    EXPECT_EQ(frame.sample[dewPoint], -40.0f);
    EXPECT_EQ(frame.sample[outputVoltage], 3.0f);
    EXPECT_EQ(frame.sample[modifiedTemp], 84.0f);
    EXPECT_EQ(frame.sample[outputTemp], 0.0f);
    EXPECT_EQ(frame.correctionActive, 1);
    EXPECT_EQ(encodeMonitoringFrame(frame), bytes);
}

TEST(MonitoringFrame, AllZeroFrameAndStatusBytesRoundTrip) {
    const MonitoringFrame zero = decodeMonitoringFrame(MonitoringBytes{});
    for (float v : zero.sample) {
        EXPECT_EQ(bitsOf(v), 0u);
    }
    EXPECT_EQ(zero.correctionActive, 0);
    for (const std::uint8_t status : {0, 1, 2, 255}) {
        MonitoringFrame frame;
        frame.sample = {1.25f, -3.5f, 1e-40f, 7.0f, 1e30f, -0.0f};
        frame.correctionActive = status;
        const MonitoringFrame back = decodeMonitoringFrame(encodeMonitoringFrame(frame));
        for (int i = 0; i < kMonitoringFields; ++i) {
            EXPECT_EQ(bitsOf(back.sample[i]), bitsOf(frame.sample[i]));
        }
        EXPECT_EQ(back.correctionActive, status);
    }
}

SettingsBytes countingBytes() {
    SettingsBytes bytes{};
    std::iota(bytes.begin(), bytes.end(), std::uint8_t(0));
    return bytes;
}

TEST(SettingsImage, ReadLayoutIsGridThenDelayThenSwitch) {
    const SettingsImage image = settingsFromReadLayout(countingBytes());
    EXPECT_EQ(image.col, (std::array<std::uint8_t, 5>{0, 1, 2, 3, 4}));
    EXPECT_EQ(image.row, (std::array<std::uint8_t, 6>{5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(image.matrix[0], 11);
    EXPECT_EQ(image.matrix[29], 40);
    EXPECT_EQ(image.delay, 41);
    EXPECT_EQ(image.correctionSwitch, 42);
    EXPECT_EQ(settingsToReadLayout(image), countingBytes());
}

TEST(SettingsImage, WriteLayoutIsDelayThenSwitchThenGrid) {
    const SettingsImage image = settingsFromWriteLayout(countingBytes());
    EXPECT_EQ(image.delay, 0);
    EXPECT_EQ(image.correctionSwitch, 1);
    EXPECT_EQ(image.col, (std::array<std::uint8_t, 5>{2, 3, 4, 5, 6}));
    EXPECT_EQ(image.row, (std::array<std::uint8_t, 6>{7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(image.matrix[0], 13);
    EXPECT_EQ(image.matrix[29], 42);
    EXPECT_EQ(settingsToWriteLayout(image), countingBytes());
}

TEST(SettingsImage, WhatIsWrittenComesBackInTheReadLayout) {
    SettingsImage image;
    image.col = {10, 20, 70, 120, 170};
    image.row = {100, 75, 65, 50, 25, 0};
    for (std::size_t i = 0; i < image.matrix.size(); ++i) {
        image.matrix[i] = std::uint8_t(255 - 7 * i);
    }
    image.delay = 255;
    image.correctionSwitch = 1;
    const SettingsBytes written = settingsToWriteLayout(image);
    EXPECT_EQ(written[0], 255);
    EXPECT_EQ(written[1], 1);
    EXPECT_EQ(written[2], 10);
    EXPECT_EQ(settingsFromWriteLayout(written), image);
    const SettingsBytes read = settingsToReadLayout(settingsFromWriteLayout(written));
    EXPECT_EQ(read[0], 10);
    EXPECT_EQ(read[41], 255);
    EXPECT_EQ(read[42], 1);
    EXPECT_EQ(settingsFromReadLayout(read), image);
}

}  // namespace
}  // namespace kv
