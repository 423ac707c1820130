// The texts of the live monitoring boxes.
#pragma once

#include <QString>

#include <cstdint>

namespace kv {

// Shown instead of a number when the device sends an infinity or a NaN: no valid reading.
inline constexpr char16_t kNoReading[] = u"----";

// `value` rounded to `decimals` places, a half going to the even neighbour, judged on the exact
// decimal value of the float (0.25 gives 0.2, 0.75 gives 0.8); at least one integer digit, exactly
// `decimals` decimals, "." as the point, no thousands separator, then `suffix`. A value that rounds
// to zero shows no minus sign. An infinity or NaN gives kNoReading without a suffix.
QString formatReading(float value, int decimals, const QString& suffix);

// A voltage as "0.000" plus "V": 2.500V.
QString voltageText(float value);
// A temperature as "##0.0" plus "°F": -40.0°F, 1234.5°F.
QString temperatureText(float value);
// The text of the box of monitoring field 0..5 (MonitoringField).
QString monitoringText(int field, float value);
// The text of Text9 for frame byte 24.
QString correctionActiveText(std::uint8_t status);

}  // namespace kv
