#include "simulator/device_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kv::sim {

namespace {

// A settings write whose data stops for this long is abandoned, as a line that went quiet.
constexpr Micros kWriteAbandonedAfter = std::chrono::seconds(2);

std::uint64_t splitMix(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double phase(std::uint64_t seed, std::uint64_t which) {
    std::uint64_t state = seed * 4 + which;
    return double(splitMix(state) >> 11) / double(1ull << 53) * 2.0 * std::numbers::pi;
}

double wave(double seconds, double periodSeconds, double phaseRadians) {
    return std::sin(2.0 * std::numbers::pi * seconds / periodSeconds + phaseRadians);
}

// Where x lies on an axis of breakpoints: between breakpoints lo and hi, a fraction f of the way.
// The axes may run either way (the column axis rises, the row axis falls). Beyond the axis the
// nearest breakpoint holds.
struct Segment {
    std::size_t lo;
    std::size_t hi;
    double f;
};

Segment locate(std::span<const std::uint8_t> axis, double x) {
    for (std::size_t i = 0; i + 1 < axis.size(); ++i) {
        const double a = axis[i];
        const double b = axis[i + 1];
        if (std::min(a, b) <= x && x <= std::max(a, b)) {
            return {i, i + 1, a == b ? 0.0 : (x - a) / (b - a)};
        }
    }
    std::size_t nearest = 0;
    for (std::size_t i = 1; i < axis.size(); ++i) {
        if (std::abs(axis[i] - x) < std::abs(axis[nearest] - x)) {
            nearest = i;
        }
    }
    return {nearest, nearest, 0.0};
}

}  // namespace

Micros byteArrival(Micros start, std::size_t index) {
    return start + Micros(std::int64_t(index + 1) * kBitsPerByte * 1'000'000 / kBaud);
}

SettingsImage factorySettings() {
    SettingsImage s;
    s.col = {10, 20, 70, 120, 170};
    s.row = {100, 75, 65, 50, 25, 0};
    // Each cell is the temperature the device drives at that input temperature and dew point: the
    // input raised the more, the more humid the air.
    const std::array<int, 6> raise{14, 10, 8, 5, 2, 0};
    for (std::size_t r = 0; r < s.row.size(); ++r) {
        for (std::size_t c = 0; c < s.col.size(); ++c) {
            s.matrix[5 * r + c] = std::uint8_t(s.col[c] + raise[r]);
        }
    }
    s.delay = 5;  // 2.5 minutes
    s.correctionSwitch = 1;
    return s;
}

double correctedTemperature(const SettingsImage& settings, double inputTempF, double dewPointF) {
    // Bilinear interpolation: the input temperature places the value between two columns, the
    // dew point between two rows; the four cells around it are weighted by how near it lies to
    // each, first along the row, then between the two rows.
    const Segment c = locate(settings.col, inputTempF);
    const Segment r = locate(settings.row, dewPointF);
    const auto cell = [&](std::size_t row, std::size_t col) {
        return double(settings.matrix[5 * row + col]);
    };
    const double upper = (1.0 - c.f) * cell(r.lo, c.lo) + c.f * cell(r.lo, c.hi);
    const double lower = (1.0 - c.f) * cell(r.hi, c.lo) + c.f * cell(r.hi, c.hi);
    return (1.0 - r.f) * upper + r.f * lower;
}

float mctVoltage(double temperatureF) {
    return float(std::clamp(0.5 + 0.01 * temperatureF, 0.0, 5.0));
}

DeviceModel::DeviceModel(DeviceOptions options)
    : options_(options), settings_(factorySettings()), noiseState_(options.seed ^ 0x5EEDull) {}

MonitoringFrame DeviceModel::sampleAt(Micros now) const {
    const double t = double(now.count()) / 1e6;
    const std::uint64_t seed = options_.seed;
    const double input = 72.0 + 14.0 * wave(t, 600.0, phase(seed, 0)) + 4.0 * wave(t, 83.0, phase(seed, 1));
    const double dew = std::min(
        input - 1.0, 50.0 + 10.0 * wave(t, 900.0, phase(seed, 2)) + 3.0 * wave(t, 127.0, phase(seed, 3)));
    const double modified = correctedTemperature(settings_, input, dew);
    const double output = correctionActive() ? modified : input;

    MonitoringFrame frame;
    frame.sample[inputVoltage] = mctVoltage(input);
    frame.sample[inputTemp] = float(input);
    frame.sample[dewPoint] = float(dew);
    frame.sample[outputVoltage] = mctVoltage(output);
    frame.sample[modifiedTemp] = float(modified);
    frame.sample[outputTemp] = float(output);
    frame.correctionActive = correctionActive() ? 1 : 0;
    return frame;
}

std::vector<TimedByte> DeviceModel::receive(std::span<const std::uint8_t> bytes, Micros now) {
    std::vector<TimedByte> sent;
    if (vanished_) {
        return sent;
    }
    for (const std::uint8_t byte : bytes) {
        if (incomingWrite_ && now - lastByteAt_ > kWriteAbandonedAfter) {
            incomingWrite_.reset();
        }
        lastByteAt_ = now;
        if (incomingWrite_) {
            incomingWrite_->push_back(byte);
            if (incomingWrite_->size() == kSettingsImageSize) {
                settings_ = settingsFromWriteLayout(std::span<const std::uint8_t, kSettingsImageSize>(
                    incomingWrite_->data(), kSettingsImageSize));
                ++settingsWritten;
                incomingWrite_.reset();
            }
            continue;
        }
        std::vector<TimedByte> reply;
        switch (byte) {
            case requestSample: {
                ++samplesRequested;
                const MonitoringBytes frame = encodeMonitoringFrame(sampleAt(now));
                reply = answer({frame.begin(), frame.end()}, now);
                break;
            }
            case requestSettings: {
                ++settingsRequested;
                const SettingsBytes image = settingsToReadLayout(settings_);
                reply = answer({image.begin(), image.end()}, now);
                break;
            }
            case writeSettings:
                incomingWrite_.emplace();
                break;
            case togglePause:
                paused_ = !paused_;
                ++pauseToggles;
                break;
            default:
                break;  // anything else means nothing to the device
        }
        sent.insert(sent.end(), reply.begin(), reply.end());
    }
    return sent;
}

void DeviceModel::lineClosed() {
    incomingWrite_.reset();
    lineFreeAt_ = Micros{0};
}

std::uint8_t DeviceModel::noise() {
    return std::uint8_t(splitMix(noiseState_));
}

std::vector<TimedByte> DeviceModel::answer(std::vector<std::uint8_t> bytes, Micros now) {
    if (silent_) {
        return {};
    }
    if (garbage_ > 0) {
        --garbage_;
        std::generate(bytes.begin(), bytes.end(), [this] { return noise(); });
    }
    if (dropByte_ > 0) {
        --dropByte_;
        bytes.erase(bytes.begin() + std::ptrdiff_t(bytes.size() / 2));
    }
    if (extraByte_ > 0) {
        --extraByte_;
        bytes.push_back(noise());
    }
    const Micros start = std::max<Micros>(now + options_.replyDelay + extraDelay_, lineFreeAt_);
    std::vector<TimedByte> timed;
    timed.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        timed.push_back({byteArrival(start, i), bytes[i]});
    }
    if (!timed.empty()) {
        lineFreeAt_ = timed.back().at;
    }
    return timed;
}

}  // namespace kv::sim
