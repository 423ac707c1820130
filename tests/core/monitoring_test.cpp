// The texts of the monitoring boxes.
#include "core/readings/readings.h"
#include "protocol/device_protocol.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace kv {
namespace {

const QString kDegF = QString::fromUtf16(u"\u00B0F");

TEST(MonitoringDisplay, VoltagesShowThreeDecimals) {
    struct Case {
        float value;
        const char* expected;
    };
    const Case cases[] = {
        {2.5f, "2.500V"},      {0.0f, "0.000V"},
        {1.2345f, "1.235V"},                          // the float lies just above 1.2345: no tie
        {0.0625f, "0.062V"},                          // an exact half goes to the even neighbour
        {0.0375f, "0.038V"},                          // the float lies just above 0.0375
        {4.9999f, "5.000V"},   {-0.0004f, "0.000V"},  // rounds to zero: no minus sign
        {-0.0005f, "-0.001V"}, {std::numeric_limits<float>::denorm_min(), "0.000V"},
        {12.0f, "12.000V"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(voltageText(c.value), QString::fromUtf8(c.expected)) << c.value;
    }
}

TEST(MonitoringDisplay, TemperaturesShowOneDecimalAndDegreesFahrenheit) {
    struct Case {
        float value;
        const char* expected;  // without the unit
    };
    const Case cases[] = {
        {-40.0f, "-40.0"},   {112.3f, "112.3"},
        {1234.5f, "1234.5"},                  // no thousands separator
        {0.04f, "0.0"},      {0.25f, "0.2"},  // halves to even
        {0.75f, "0.8"},      {2.25f, "2.2"},
        {0.35f, "0.3"},  // the float is 0.3499999...: judged on its own value
        {0.45f, "0.4"},  // the float is 0.4499999...: below the half
        {99.95f, "99.9"},    {-0.0f, "0.0"},
        {-0.04f, "0.0"},     {-0.05f, "-0.1"},
        {1e-40f, "0.0"},     {3.0e38f, "300000000549775575777803994281145270272.0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(temperatureText(c.value), QString::fromUtf8(c.expected) + kDegF) << c.value;
    }
}

TEST(MonitoringDisplay, InfinityAndNaNShowNoValidReading) {
    const float values[] = {std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            decodeDeviceFloat(0xFF, 0xFF, 0xFF, 0xFF)};
    for (const float v : values) {
        for (int field = 0; field < kMonitoringFields; ++field) {
            EXPECT_EQ(monitoringText(field, v), QStringLiteral("----")) << field;
        }
    }
}

TEST(MonitoringDisplay, EachFieldGetsItsUnit) {
    const char* expected[kMonitoringFields] = {"2.500V", "2.5°F", "2.5°F", "2.500V", "2.5°F", "2.5°F"};
    for (int field = 0; field < kMonitoringFields; ++field) {
        EXPECT_EQ(monitoringText(field, 2.5f), QString::fromUtf8(expected[field])) << field;
    }
    // The degree sign is U+00B0, then F.
    const QString text = temperatureText(1.0f);
    EXPECT_EQ(text.right(2).at(0).unicode(), 0x00B0);
    EXPECT_EQ(text.right(1), QStringLiteral("F"));
}

TEST(MonitoringDisplay, OnlyStatusOneMeansCorrectionActive) {
    EXPECT_EQ(correctionActiveText(1), "Yes");
    for (const std::uint8_t status : {0, 2, 7, 255}) {
        EXPECT_EQ(correctionActiveText(status), "No") << int(status);
    }
}

}  // namespace
}  // namespace kv
