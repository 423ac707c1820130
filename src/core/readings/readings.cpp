#include "core/readings/readings.h"

#include "protocol/device_protocol.h"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace kv {

QString formatReading(float value, int decimals, const QString& suffix) {
    if (!std::isfinite(value)) {
        return QString::fromUtf16(kNoReading);
    }
    // Fixed notation of the exact value of the float, correctly rounded with ties to even. The
    // largest float has 39 integer digits.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), double(value),
                                      std::chars_format::fixed, decimals);
    std::string_view text(buffer.data(), std::size_t(result.ptr - buffer.data()));
    if (text.starts_with('-') && text.find_first_not_of("-0.") == std::string_view::npos) {
        text.remove_prefix(1);  // -0.04 and -0.0 both show as zero
    }
    return QString::fromLatin1(text.data(), qsizetype(text.size())) + suffix;
}

QString voltageText(float value) {
    return formatReading(value, 3, QStringLiteral("V"));
}

QString temperatureText(float value) {
    return formatReading(value, 1, QString::fromUtf16(u"\u00B0F"));
}

QString monitoringText(int field, float value) {
    return field == inputVoltage || field == outputVoltage ? voltageText(value) : temperatureText(value);
}

QString correctionActiveText(std::uint8_t status) {
    return status == 1 ? QStringLiteral("Yes") : QStringLiteral("No");
}

}  // namespace kv
