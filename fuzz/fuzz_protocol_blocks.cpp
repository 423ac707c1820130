// The block codec on arbitrary bytes: decoding never fails, encoding gives the same bytes back,
// and every reading has a text that is either a number with its unit or the no-reading mark.
#include "core/readings/readings.h"
#include "protocol/device_protocol.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void checkText(int field, float value) {
    const QString text = kv::monitoringText(field, value);
    if (!std::isfinite(value)) {
        check(text == QStringLiteral("----"));
        return;
    }
    const bool voltage = field == kv::inputVoltage || field == kv::outputVoltage;
    const QString unit = voltage ? QStringLiteral("V") : QString::fromUtf16(u"\u00B0F");
    check(text.endsWith(unit));
    const QString number = text.chopped(unit.size());
    check(number != QStringLiteral("-0.0") && number != QStringLiteral("-0.000"));
    const int decimals = voltage ? 3 : 1;
    check(number.size() > decimals + 1 && number[number.size() - decimals - 1] == u'.');
    bool ok = false;
    const double shown = number.toDouble(&ok);
    check(ok);
    // Within half a unit of the last place of the value itself.
    check(std::abs(shown - double(value)) <=
          0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + std::abs(value) * 1e-15);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= kv::kMonitoringFrameSize) {
        const std::span<const std::uint8_t, kv::kMonitoringFrameSize> bytes(data, kv::kMonitoringFrameSize);
        const kv::MonitoringFrame frame = kv::decodeMonitoringFrame(bytes);
        const kv::MonitoringBytes back = kv::encodeMonitoringFrame(frame);
        check(std::memcmp(back.data(), data, back.size()) == 0);
        for (int field = 0; field < kv::kMonitoringFields; ++field) {
            checkText(field, frame.sample[field]);
        }
    }
    if (size >= kv::kSettingsImageSize) {
        const std::span<const std::uint8_t, kv::kSettingsImageSize> bytes(data, kv::kSettingsImageSize);
        const kv::SettingsImage read = kv::settingsFromReadLayout(bytes);
        check(kv::settingsFromWriteLayout(kv::settingsToWriteLayout(read)) == read);
        const kv::SettingsBytes back = kv::settingsToReadLayout(read);
        check(std::memcmp(back.data(), data, back.size()) == 0);
    }
    return 0;
}
