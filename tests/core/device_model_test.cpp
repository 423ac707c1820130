// The simulated device: its answers, their timing, its calibration, its readings and its faults.
#include "simulator/device_model.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

namespace kv::sim {
namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> valuesOf(const std::vector<TimedByte>& bytes) {
    std::vector<std::uint8_t> values;
    for (const TimedByte& b : bytes) {
        values.push_back(b.value);
    }
    return values;
}

MonitoringFrame frameOf(const std::vector<TimedByte>& bytes) {
    EXPECT_EQ(bytes.size(), kMonitoringFrameSize);
    const auto values = valuesOf(bytes);
    return decodeMonitoringFrame(
        std::span<const std::uint8_t, kMonitoringFrameSize>(values.data(), kMonitoringFrameSize));
}

SettingsImage imageOf(const std::vector<TimedByte>& bytes) {
    EXPECT_EQ(bytes.size(), kSettingsImageSize);
    const auto values = valuesOf(bytes);
    return settingsFromReadLayout(
        std::span<const std::uint8_t, kSettingsImageSize>(values.data(), kSettingsImageSize));
}

TEST(DeviceModel, AnswersEachCommandWithItsBlock) {
    struct Case {
        std::uint8_t command;
        std::size_t answerBytes;
    };
    const Case cases[] = {
        {requestSample, 25}, {requestSettings, 43}, {togglePause, 0}, {0x00, 0}, {0x05, 0}, {0xFF, 0}};
    for (const Case& c : cases) {
        DeviceModel device;
        EXPECT_EQ(device.receive(c.command, 1000ms).size(), c.answerBytes) << int(c.command);
    }
}

TEST(DeviceModel, AnswersAfterItsDelayPacedAt19200Baud) {
    DeviceModel device;  // 20 ms by default
    const auto answer = device.receive(requestSample, 5000ms);
    ASSERT_EQ(answer.size(), 25u);
    EXPECT_EQ(answer.front().at, 5000ms + 20ms + 520us);  // one byte is ten bits: 520.8 us
    EXPECT_EQ(answer.back().at, Micros(5'020'000 + 25 * 10'000'000 / 19200));
    EXPECT_TRUE(std::is_sorted(answer.begin(), answer.end(), [](auto& a, auto& b) { return a.at < b.at; }));

    device.setReplyDelay(100ms);
    EXPECT_EQ(device.receive(requestSample, 10s).front().at, 10s + 100ms + 520us);
}

TEST(DeviceModel, AnswersDoNotOverlapOnTheLine) {
    DeviceModel device;
    const auto both = device.receive(std::vector<std::uint8_t>{requestSettings, requestSample}, 0ms);
    ASSERT_EQ(both.size(), 43u + 25u);
    EXPECT_GT(both[43].at, both[42].at);
    EXPECT_LE(both[43].at - both[42].at, 521us);  // straight after, no gap

    device.lineClosed();  // a new open starts with a free line
    EXPECT_EQ(device.receive(requestSample, 1ms).front().at, 1ms + 20ms + 520us);
}

TEST(DeviceModel, StartsWithASensibleCalibration) {
    DeviceModel device;
    const SettingsImage image = imageOf(device.receive(requestSettings, 0ms));
    EXPECT_EQ(image, factorySettings());
    EXPECT_EQ(image.col, (std::array<std::uint8_t, 5>{10, 20, 70, 120, 170}));
    EXPECT_EQ(image.row, (std::array<std::uint8_t, 6>{100, 75, 65, 50, 25, 0}));
    EXPECT_EQ(image.correctionSwitch, 1);
    EXPECT_GT(image.delay, 0);
    EXPECT_TRUE(std::any_of(image.matrix.begin(), image.matrix.end(), [](std::uint8_t v) { return v != 0; }));
}

TEST(DeviceModel, StoresASettingsWriteAndReportsItBack) {
    SettingsImage written;
    written.col = {0, 50, 100, 150, 255};
    written.row = {90, 80, 70, 60, 50, 40};
    for (std::size_t i = 0; i < 30; ++i) {
        written.matrix[i] = std::uint8_t(100 + i);
    }
    written.delay = 7;
    written.correctionSwitch = 0;
    const SettingsBytes data = settingsToWriteLayout(written);

    DeviceModel device;
    EXPECT_TRUE(device.receive(writeSettings, 0ms).empty());
    // The data follows 700 ms later, one byte at a time; none of it is taken as a command.
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_TRUE(device.receive(data[i], 700ms + Micros(i)).empty()) << i;
    }
    EXPECT_EQ(device.settingsWritten, 1);
    EXPECT_EQ(device.settings(), written);
    EXPECT_EQ(imageOf(device.receive(requestSettings, 2s)), written);
}

TEST(DeviceModel, AnUnfinishedSettingsWriteIsAbandoned) {
    struct Case {
        const char* what;
        bool closeLine;
        Micros requestAt;
    };
    const Case cases[] = {{"the line closes", true, 800ms}, {"the line goes quiet", false, 5s}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceModel device;
        device.receive(writeSettings, 0ms);
        device.receive(std::vector<std::uint8_t>(10, 0x09), 700ms);
        if (c.closeLine) {
            device.lineClosed();
        }
        EXPECT_EQ(device.receive(requestSample, c.requestAt).size(), 25u);
        EXPECT_EQ(device.settingsWritten, 0);
        EXPECT_EQ(device.settings(), factorySettings());
    }
}

TEST(DeviceModel, PauseTogglesTheCorrectionReportedInByte24) {
    DeviceModel device;
    const std::uint8_t expected[] = {1, 0, 1, 0};
    for (int i = 0; i < 4; ++i) {
        const Micros now = Micros(std::chrono::seconds(100 + i));
        const MonitoringFrame frame = frameOf(device.receive(requestSample, now));
        EXPECT_EQ(frame.correctionActive, expected[i]) << i;
        if (expected[i] == 1) {
            EXPECT_EQ(frame.sample[outputTemp], frame.sample[modifiedTemp]);
        } else {
            EXPECT_EQ(frame.sample[outputTemp], frame.sample[inputTemp]);
        }
        device.receive(togglePause, now + 1ms);
    }
    EXPECT_EQ(device.pauseToggles, 4);
}

TEST(DeviceModel, SwitchedOffTheOutputFollowsTheInput) {
    DeviceModel device;
    SettingsImage off = factorySettings();
    off.correctionSwitch = 0;
    device.setSettings(off);
    const MonitoringFrame frame = frameOf(device.receive(requestSample, 42s));
    EXPECT_EQ(frame.correctionActive, 0);
    EXPECT_EQ(frame.sample[outputTemp], frame.sample[inputTemp]);
    EXPECT_EQ(frame.sample[outputVoltage], frame.sample[inputVoltage]);
    EXPECT_NE(frame.sample[modifiedTemp], frame.sample[inputTemp]);
}

TEST(DeviceModel, ReadingsArePlausibleAndDriftSlowly) {
    DeviceModel device({.replyDelay = 20ms, .seed = 7});
    DeviceModel twin({.replyDelay = 20ms, .seed = 7});
    DeviceModel other({.replyDelay = 20ms, .seed = 8});
    float lowest = 1000.0f;
    float highest = -1000.0f;
    MonitoringFrame previous = device.sampleAt(0ms);
    for (Micros t = 700ms; t < std::chrono::minutes(20); t += 700ms) {
        const MonitoringFrame f = device.sampleAt(t);
        ASSERT_EQ(encodeMonitoringFrame(f), encodeMonitoringFrame(twin.sampleAt(t)));  // deterministic
        EXPECT_LT(std::abs(f.sample[inputTemp] - previous.sample[inputTemp]), 0.5f);
        EXPECT_LT(std::abs(f.sample[dewPoint] - previous.sample[dewPoint]), 0.5f);
        EXPECT_LT(f.sample[dewPoint], f.sample[inputTemp]);
        EXPECT_NEAR(f.sample[inputVoltage], mctVoltage(f.sample[inputTemp]), 1e-5);
        EXPECT_NEAR(f.sample[outputVoltage], mctVoltage(f.sample[outputTemp]), 1e-5);
        EXPECT_NEAR(f.sample[modifiedTemp],
                    correctedTemperature(device.settings(), f.sample[inputTemp], f.sample[dewPoint]), 1e-3);
        lowest = std::min(lowest, f.sample[inputTemp]);
        highest = std::max(highest, f.sample[inputTemp]);
        previous = f;
    }
    EXPECT_GT(highest - lowest, 10.0f);  // it does move
    EXPECT_GT(lowest, 40.0f);
    EXPECT_LT(highest, 100.0f);
    EXPECT_NE(encodeMonitoringFrame(device.sampleAt(60s)), encodeMonitoringFrame(other.sampleAt(60s)));
}

TEST(CalibrationTable, InterpolatesBetweenBreakpointsAndHoldsBeyondThem) {
    SettingsImage s = factorySettings();  // columns 10 20 70 120 170, rows 100 75 65 50 25 0
    for (std::size_t i = 0; i < 30; ++i) {
        s.matrix[i] = std::uint8_t(5 * i);  // cell (r, c) = 25 r + 5 c
    }
    struct Case {
        double temp;
        double dew;
        double expected;
    };
    const Case cases[] = {
        {10, 100, 0},      // a breakpoint gives its cell
        {170, 0, 145},     // the opposite corner
        {70, 65, 60},      // an inner breakpoint
        {15, 100, 2.5},    // halfway between the first two columns
        {95, 100, 12.5},   // halfway between 70 and 120
        {10, 87.5, 12.5},  // halfway between the first two rows, which fall
        {45, 70, 45},      // inside a cell: both weights, (1.5 rows, 1.5 columns)
        {-30, 100, 0},     // below the column axis: the first column holds
        {250, 100, 20},    // above it: the last column holds
        {10, 120, 0},      // above the top row
        {10, -10, 125},    // below the bottom row
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(correctedTemperature(s, c.temp, c.dew), c.expected, 1e-9) << c.temp << " " << c.dew;
    }
    // Equal breakpoints are a step, not a division by zero.
    s.col = {10, 10, 10, 10, 10};
    EXPECT_TRUE(std::isfinite(correctedTemperature(s, 10, 50)));
}

TEST(DeviceModel, FaultsChangeTheNextAnswers) {
    const MonitoringBytes normal = [] {
        DeviceModel d;
        const auto v = valuesOf(d.receive(requestSample, 1s));
        MonitoringBytes b{};
        std::copy(v.begin(), v.end(), b.begin());
        return b;
    }();
    struct Case {
        const char* what;
        std::function<void(DeviceModel&)> fault;
        std::size_t firstAnswer;
        Micros firstByteAt;
        std::size_t secondAnswer;
    };
    const Case cases[] = {
        {"none", [](DeviceModel&) {}, 25, 1020520us, 25},
        {"silent", [](DeviceModel& d) { d.setSilent(true); }, 0, 0us, 0},
        {"late", [](DeviceModel& d) { d.setExtraDelay(1500ms); }, 25, 2520520us, 25},
        {"a dropped byte", [](DeviceModel& d) { d.dropByteOfNextAnswer(); }, 24, 1020520us, 25},
        {"an extra byte", [](DeviceModel& d) { d.addByteToNextAnswer(); }, 26, 1020520us, 25},
        {"garbage", [](DeviceModel& d) { d.garbleNextAnswer(); }, 25, 1020520us, 25},
        {"vanished", [](DeviceModel& d) { d.vanish(); }, 0, 0us, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceModel device;
        c.fault(device);
        const auto first = device.receive(requestSample, 1s);
        ASSERT_EQ(first.size(), c.firstAnswer);
        if (!first.empty()) {
            EXPECT_EQ(first.front().at, c.firstByteAt);
        }
        if (std::string_view(c.what) == "garbage") {
            EXPECT_NE(valuesOf(first), std::vector<std::uint8_t>(normal.begin(), normal.end()));
        }
        if (std::string_view(c.what) == "an extra byte" || std::string_view(c.what) == "a dropped byte") {
            // Everything else of the answer is intact.
            const auto v = valuesOf(first);
            EXPECT_TRUE(std::equal(normal.begin(), normal.begin() + 12, v.begin()));
        }
        EXPECT_EQ(device.receive(requestSample, 1s + 700ms).size(), c.secondAnswer);
    }
}

}  // namespace
}  // namespace kv::sim
