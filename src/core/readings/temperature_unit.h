// The device and its calibration work in °F; a technician may read the live values, the chart,
// the correction map and recordings in °C. These are the conversions and texts for that.
#pragma once

#include <QString>

namespace kv {

enum class TemperatureUnit { Fahrenheit, Celsius };

// "°F" or "°C".
QString unitSymbol(TemperatureUnit unit);
// "F" or "C", as the unit is kept in settings; anything else reads as °F.
QString unitKey(TemperatureUnit unit);
TemperatureUnit unitFromKey(const QString& key);

// (F − 32) × 5 / 9 in double.
double celsiusFromFahrenheit(double fahrenheit);
// A temperature in the unit; a difference of temperatures (no offset) in the unit.
double temperatureIn(double fahrenheit, TemperatureUnit unit);
double differenceIn(double fahrenheitDifference, TemperatureUnit unit);

// A device reading in °C as written to CSV and JSON: the float nearest to (F − 32) × 5 / 9
// computed in double. Non-finite readings stay as they are.
float celsiusReading(float fahrenheit);
// A °C reading back in °F, C × 9 / 5 + 32 in double. °F floats outnumber the °C floats near
// -40 °F and near 32 °F, so this may be a neighbour of the float recorded; in °C again it gives the
// very same value, so a recording read back and written again in °C is unchanged.
float fahrenheitFromCelsiusReading(float celsius);

// A temperature with one decimal and the unit after a space: "41.9 °F", "5.5 °C"; a difference
// is signed: "+3.5 °F", "-0.4 °C", "0.0 °F". Non-finite values give "----".
QString temperatureTextIn(float fahrenheit, TemperatureUnit unit);
QString differenceTextIn(double fahrenheitDifference, TemperatureUnit unit);

}  // namespace kv
