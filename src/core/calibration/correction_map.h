// The correction map's arithmetic, apart from any drawing: the table as the editor holds it, how
// much each cell raises the temperature over its column, the diverging colour of that rise, where
// a reading lies between the axis values, and the words a screen reader says about it.
#pragma once

#include "core/readings/temperature_unit.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kv {

// The editor's table, axes and difference marks as they stand: texts, so empty boxes stay empty.
struct MapTable {
    std::array<QString, 5> col;     // MCT °F, left to right, not decreasing
    std::array<QString, 6> row;     // dew point °F, top to bottom, not increasing
    std::array<QString, 30> cells;  // cells[5 × r + c] at row r, column c
    std::array<bool, 5> colDiffers{};
    std::array<bool, 6> rowDiffers{};
    std::array<bool, 30> cellDiffers{};
    bool operator==(const MapTable&) const = default;
};

// A box's number; nothing for an empty text (or one that is not a number).
std::optional<double> boxValue(const QString& text);

// How much cell (r, c) raises the temperature over its column's MCT value: cell − Col(c); nothing
// when either box is empty.
std::optional<double> cellRise(const MapTable& table, int r, int c);

// The symmetric range of the colour scale: the largest rise of any cell, rounded up to a
// multiple of 5 °F, at least 5.
double riseScaleLimit(const MapTable& table);

// The colour of a rise on a diverging scale from blue (lowered) through a neutral light grey (0)
// to red (raised), saturating at ±limit: 0xRRGGBB.
std::uint32_t riseColor(double rise, double limit);

// Where a value lies along an axis.
struct AxisSpot {
    enum class Where { Between, Before, After, Unknown };
    Where where = Where::Unknown;
    int lower = 0;        // Between: the breakpoints on either side (lower + 1 == upper)
    int upper = 0;        // Before: 0 and 0; After: last and last
    double fraction = 0;  // from lower (0) to upper (1)
};

// Locates value among breakpoints that run the given way (the columns rise, the rows fall).
// Unknown when a breakpoint is missing or out of order, as while a box is being typed in.
AxisSpot locateOnAxis(std::span<const std::optional<double>> breakpoints, bool rising, double value);

// Where each breakpoint is drawn, from 0 to 1 across the axis: mostly by value, partly by
// index, so that close breakpoints (10 and 20 °F) still get room for their numbers. Evenly spaced
// when the axis cannot be located on.
std::vector<double> breakpointPositions(std::span<const std::optional<double>> breakpoints, bool rising);
// A spot's place on the same scale; Before and After give the first and last breakpoint's place.
double spotPosition(const std::vector<double>& positions, const AxisSpot& spot);

std::array<std::optional<double>, 5> columnValues(const MapTable& table);
std::array<std::optional<double>, 6> rowValues(const MapTable& table);

// An axis value as its label: "70" in °F (the box's own number), "21.1" in °C.
QString axisLabel(double fahrenheit, TemperatureUnit unit);

// The operating point in words: "dew point 41.9 °F, MCT 80.5 °F, between rows 50 and 25,
// columns 70 and 120"; "at row 50" on a breakpoint, "above row 100" or "right of column 170"
// outside the axes.
QString operatingPointDescription(const MapTable& table, float dewPointF, float mctF, TemperatureUnit unit);
// The line under the map when the point lies outside the axes, or cannot be placed because an axis
// has an empty box or is out of order; empty when it lies inside.
QString outsideAxesText(const MapTable& table, float dewPointF, float mctF, TemperatureUnit unit);

}  // namespace kv
