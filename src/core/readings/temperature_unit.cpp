#include "core/readings/temperature_unit.h"

#include "core/readings/readings.h"

#include <cmath>

namespace kv {

QString unitSymbol(TemperatureUnit unit) {
    return unit == TemperatureUnit::Celsius ? QStringLiteral("\u00B0C") : QStringLiteral("\u00B0F");
}

QString unitKey(TemperatureUnit unit) {
    return unit == TemperatureUnit::Celsius ? QStringLiteral("C") : QStringLiteral("F");
}

TemperatureUnit unitFromKey(const QString& key) {
    return key == QStringLiteral("C") ? TemperatureUnit::Celsius : TemperatureUnit::Fahrenheit;
}

double celsiusFromFahrenheit(double fahrenheit) {
    return (fahrenheit - 32) * 5 / 9;
}

double temperatureIn(double fahrenheit, TemperatureUnit unit) {
    return unit == TemperatureUnit::Celsius ? celsiusFromFahrenheit(fahrenheit) : fahrenheit;
}

double differenceIn(double fahrenheitDifference, TemperatureUnit unit) {
    return unit == TemperatureUnit::Celsius ? fahrenheitDifference * 5 / 9 : fahrenheitDifference;
}

float celsiusReading(float fahrenheit) {
    if (!std::isfinite(fahrenheit))
        return fahrenheit;
    return float(celsiusFromFahrenheit(double(fahrenheit)));
}

float fahrenheitFromCelsiusReading(float celsius) {
    if (!std::isfinite(celsius))
        return celsius;
    return float(double(celsius) * 9 / 5 + 32);
}

QString temperatureTextIn(float fahrenheit, TemperatureUnit unit) {
    const float value = unit == TemperatureUnit::Celsius ? celsiusReading(fahrenheit) : fahrenheit;
    return formatReading(value, 1, QStringLiteral(" ") + unitSymbol(unit));
}

QString differenceTextIn(double fahrenheitDifference, TemperatureUnit unit) {
    const QString text = formatReading(float(differenceIn(fahrenheitDifference, unit)), 1,
                                       QStringLiteral(" ") + unitSymbol(unit));
    if (!std::isfinite(fahrenheitDifference) || text.startsWith(u'-') || text.startsWith(u"0.0 "))
        return text;
    return u'+' + text;
}

}  // namespace kv
