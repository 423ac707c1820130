#include "core/calibration/correction_map.h"

#include "core/calibration/editing_rules.h"
#include "core/readings/readings.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// ColorBrewer's RdBu, from the deepest blue to the deepest red, with a neutral grey in the middle.
constexpr std::uint32_t kDiverging[] = {0x053061, 0x2166ac, 0x4393c3, 0x92c5de, 0xd1e5f0, 0xf2f2f2,
                                        0xfddbc7, 0xf4a582, 0xd6604d, 0xb2182b, 0x67001f};

template <std::size_t N>
std::array<std::optional<double>, N> values(const std::array<QString, N>& texts) {
    std::array<std::optional<double>, N> result;
    for (std::size_t i = 0; i < N; ++i)
        result[i] = boxValue(texts[i]);
    return result;
}

QString number(double value, TemperatureUnit unit) {
    return axisLabel(value, unit);
}

// "between rows 50 and 25", "at row 50", "above row 100"; words for the two ends of the axis.
QString spotWords(const AxisSpot& spot, std::span<const std::optional<double>> axis, const char* name,
                  const char* before, const char* after, TemperatureUnit unit) {
    const QString singular = QString::fromLatin1(name);
    switch (spot.where) {
        case AxisSpot::Where::Unknown:
            return QStringLiteral("%1s incomplete or out of order").arg(singular);
        case AxisSpot::Where::Before:
            return QStringLiteral("%1 %2 %3")
                .arg(QLatin1String(before), singular, number(*axis.front(), unit));
        case AxisSpot::Where::After:
            return QStringLiteral("%1 %2 %3").arg(QLatin1String(after), singular, number(*axis.back(), unit));
        case AxisSpot::Where::Between:
            break;
    }
    const double lower = *axis[std::size_t(spot.lower)];
    const double upper = *axis[std::size_t(spot.upper)];
    if (spot.fraction == 0 || lower == upper)
        return QStringLiteral("at %1 %2").arg(singular, number(lower, unit));
    if (spot.fraction == 1)
        return QStringLiteral("at %1 %2").arg(singular, number(upper, unit));
    return QStringLiteral("between %1s %2 and %3").arg(singular, number(lower, unit), number(upper, unit));
}

}  // namespace

std::optional<double> boxValue(const QString& text) {
    return wholeTextValue(text);
}

std::optional<double> cellRise(const MapTable& table, int r, int c) {
    const std::optional<double> cell = boxValue(table.cells[std::size_t(5 * r + c)]);
    const std::optional<double> column = boxValue(table.col[std::size_t(c)]);
    if (!cell || !column)
        return std::nullopt;
    return *cell - *column;
}

double riseScaleLimit(const MapTable& table) {
    double largest = 0;
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 5; ++c) {
            if (const std::optional<double> rise = cellRise(table, r, c))
                largest = std::max(largest, std::abs(*rise));
        }
    }
    return std::max(5.0, std::ceil(largest / 5) * 5);
}

std::uint32_t riseColor(double rise, double limit) {
    const double t = std::clamp(limit > 0 ? rise / limit : 0.0, -1.0, 1.0);
    const double at = (t + 1) / 2 * double(std::size(kDiverging) - 1);
    const std::size_t i = std::min(std::size_t(at), std::size(kDiverging) - 2);
    const double f = at - double(i);
    std::uint32_t color = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
        const double a = (kDiverging[i] >> shift) & 0xff;
        const double b = (kDiverging[i + 1] >> shift) & 0xff;
        color |= std::uint32_t(std::lround(a + (b - a) * f)) << shift;
    }
    return color;
}

AxisSpot locateOnAxis(std::span<const std::optional<double>> breakpoints, bool rising, double value) {
    AxisSpot spot;
    const double sign = rising ? 1 : -1;
    for (std::size_t i = 0; i < breakpoints.size(); ++i) {
        if (!breakpoints[i] || (i > 0 && sign * *breakpoints[i] < sign * *breakpoints[i - 1]))
            return spot;
    }
    if (breakpoints.size() < 2 || !std::isfinite(value))
        return spot;
    const int last = int(breakpoints.size()) - 1;
    const double v = sign * value;
    if (v < sign * *breakpoints.front()) {
        spot.where = AxisSpot::Where::Before;
        return spot;
    }
    if (v > sign * *breakpoints.back()) {
        spot.where = AxisSpot::Where::After;
        spot.lower = spot.upper = last;
        return spot;
    }
    spot.where = AxisSpot::Where::Between;
    for (int i = 0; i < last; ++i) {
        const double a = sign * *breakpoints[std::size_t(i)];
        const double b = sign * *breakpoints[std::size_t(i) + 1];
        if (v <= b || i == last - 1) {
            spot.lower = i;
            spot.upper = i + 1;
            spot.fraction = b > a ? std::clamp((v - a) / (b - a), 0.0, 1.0) : 0.0;
            return spot;
        }
    }
    return spot;
}

std::vector<double> breakpointPositions(std::span<const std::optional<double>> breakpoints, bool rising) {
    const std::size_t n = breakpoints.size();
    std::vector<double> positions(n);
    for (std::size_t i = 0; i < n; ++i)
        positions[i] = n > 1 ? double(i) / double(n - 1) : 0.5;
    if (n < 2 || locateOnAxis(breakpoints, rising, *breakpoints.front()).where == AxisSpot::Where::Unknown)
        return positions;
    const double span = std::abs(*breakpoints.back() - *breakpoints.front());
    if (span <= 0)
        return positions;
    for (std::size_t i = 0; i < n; ++i) {
        const double byValue = std::abs(*breakpoints[i] - *breakpoints.front()) / span;
        positions[i] = 0.7 * byValue + 0.3 * positions[i];
    }
    return positions;
}

double spotPosition(const std::vector<double>& positions, const AxisSpot& spot) {
    if (spot.where == AxisSpot::Where::Unknown || positions.empty())
        return 0.5;
    const double a = positions[std::size_t(spot.lower)];
    const double b = positions[std::size_t(spot.upper)];
    return a + (b - a) * spot.fraction;
}

std::array<std::optional<double>, 5> columnValues(const MapTable& table) {
    return values(table.col);
}

std::array<std::optional<double>, 6> rowValues(const MapTable& table) {
    return values(table.row);
}

QString axisLabel(double fahrenheit, TemperatureUnit unit) {
    if (unit == TemperatureUnit::Celsius)
        return formatReading(float(celsiusFromFahrenheit(fahrenheit)), 1, QString());
    return numberText(fahrenheit);
}

QString operatingPointDescription(const MapTable& table, float dewPointF, float mctF, TemperatureUnit unit) {
    if (!std::isfinite(dewPointF) || !std::isfinite(mctF))
        return QStringLiteral("no valid reading of the dew point and the MCT temperature");
    const auto rows = rowValues(table);
    const auto cols = columnValues(table);
    return QStringLiteral("dew point %1, MCT %2, %3, %4")
        .arg(temperatureTextIn(dewPointF, unit), temperatureTextIn(mctF, unit),
             spotWords(locateOnAxis(rows, false, dewPointF), rows, "row", "above", "below", unit),
             spotWords(locateOnAxis(cols, true, mctF), cols, "column", "left of", "right of", unit)
                 .replace(QStringLiteral("between columns"), QStringLiteral("columns")));
}

QString outsideAxesText(const MapTable& table, float dewPointF, float mctF, TemperatureUnit unit) {
    const auto rows = rowValues(table);
    const auto cols = columnValues(table);
    const AxisSpot r = locateOnAxis(rows, false, dewPointF);
    const AxisSpot c = locateOnAxis(cols, true, mctF);
    if (!std::isfinite(dewPointF) || !std::isfinite(mctF))
        return QString();
    if (r.where == AxisSpot::Where::Unknown || c.where == AxisSpot::Where::Unknown) {
        return QStringLiteral(
                   "The operating point is not shown while the %1 axis has an empty box or is out of order.")
            .arg(r.where == AxisSpot::Where::Unknown ? QStringLiteral("dew point") : QStringLiteral("MCT"));
    }
    const QString symbol = QStringLiteral(" ") + unitSymbol(unit);
    QStringList parts;
    if (r.where == AxisSpot::Where::Before)
        parts << QStringLiteral("the dew point %1 is above the top row (%2)")
                     .arg(temperatureTextIn(dewPointF, unit), number(*rows.front(), unit) + symbol);
    if (r.where == AxisSpot::Where::After)
        parts << QStringLiteral("the dew point %1 is below the bottom row (%2)")
                     .arg(temperatureTextIn(dewPointF, unit), number(*rows.back(), unit) + symbol);
    if (c.where == AxisSpot::Where::Before)
        parts << QStringLiteral("the MCT temperature %1 is left of the first column (%2)")
                     .arg(temperatureTextIn(mctF, unit), number(*cols.front(), unit) + symbol);
    if (c.where == AxisSpot::Where::After)
        parts << QStringLiteral("the MCT temperature %1 is right of the last column (%2)")
                     .arg(temperatureTextIn(mctF, unit), number(*cols.back(), unit) + symbol);
    if (parts.isEmpty())
        return QString();
    return QStringLiteral("Outside the table: ") + parts.join(QStringLiteral(" and ")) + u'.';
}

}  // namespace kv
