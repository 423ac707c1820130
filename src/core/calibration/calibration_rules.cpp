#include "core/calibration/calibration_rules.h"

#include "core/calibration/editing_rules.h"

#include <algorithm>
#include <span>

namespace kv {

namespace {

// One of the three grids of boxes as the save sees it: the texts and the commit rule's parameters.
struct Grid {
    std::span<const QString> texts;
    AxisOrder order;
    int upperLimit;
    QString (*fieldName)(int index);
};

QString cellName(int k) {
    return QStringLiteral("The table cell in row %1, column %2").arg(k / 5 + 1).arg(k % 5 + 1);
}
QString colName(int i) {
    return QStringLiteral("The MCT °F axis value %1").arg(i + 1);
}
QString rowName(int j) {
    return QStringLiteral("The Dew point °F axis value %1").arg(j + 1);
}

QString neighbourOf(const Grid& grid, int index) {
    return index >= 0 && index < int(grid.texts.size()) ? grid.texts[std::size_t(index)] : QString();
}

// Why the commit would change the byte of a text, or nothing when the box's only fault is being
// above (MCT) or below (dew point) its next neighbour: then that neighbour breaks the order with the
// boxes before it and is the one named, so a short file line is blamed on the box it changed.
std::optional<QString> commitObjection(const Grid& grid, int index) {
    const QString& text = grid.texts[std::size_t(index)];
    const bool aboveLimit = compareLeadingValues(text, QString::number(grid.upperLimit)) > 0;
    const bool belowZero = compareLeadingValues(text, u"0") < 0;
    if (grid.order != AxisOrder::None) {
        const int sign = grid.order == AxisOrder::NotDecreasing ? 1 : -1;
        const QString above = QStringLiteral("above"), below = QStringLiteral("below");
        const QString previous = neighbourOf(grid, index - 1);
        if (!previous.isEmpty() && sign * compareLeadingValues(text, previous) < 0) {
            return QStringLiteral("%1 value %2 (%3)")
                .arg(sign > 0 ? below : above, QString::number(index), previous);
        }
        const QString next = neighbourOf(grid, index + 1);
        if (!next.isEmpty() && sign * compareLeadingValues(text, next) > 0) {
            if (!aboveLimit && !belowZero) {
                return std::nullopt;
            }
            return QStringLiteral("%1 value %2 (%3)")
                .arg(sign > 0 ? above : below, QString::number(index + 2), next);
        }
    }
    return aboveLimit ? QStringLiteral("above %1").arg(grid.upperLimit) : QStringLiteral("below 0");
}

std::optional<QString> notANumber(const Grid& grid) {
    for (int i = 0; i < int(grid.texts.size()); ++i) {
        const QString& text = grid.texts[std::size_t(i)];
        if (!isNumeric(text)) {
            return QStringLiteral(
                       "%1 is \"%2\". It must be a number from 0 to %3 before it can be saved to the "
                       "KestroVar.")
                .arg(grid.fieldName(i), text, QString::number(grid.upperLimit));
        }
    }
    return std::nullopt;
}

// The first box whose byte differs from the byte of what its commit would leave in it.
std::optional<QString> notAsCommitted(const Grid& grid) {
    for (int i = 0; i < int(grid.texts.size()); ++i) {
        const QString& text = grid.texts[std::size_t(i)];
        const QString committed = committedText(text, neighbourOf(grid, i - 1), neighbourOf(grid, i + 1),
                                                grid.order, grid.upperLimit);
        if (gridByte(text) == gridByte(committed)) {
            continue;
        }
        if (const auto objection = commitObjection(grid, i)) {
            return QStringLiteral(
                       "%1 is %2, %3. The editor would make it %4. It must be corrected before it can "
                       "be saved to the KestroVar.")
                .arg(grid.fieldName(i), text, *objection, committed);
        }
    }
    return std::nullopt;
}

}  // namespace

bool hasEmptyField(const CalibrationTexts& texts) {
    auto isEmpty = [](const QString& text) { return text.isEmpty(); };
    return std::any_of(texts.matrix.begin(), texts.matrix.end(), isEmpty) ||
           std::any_of(texts.col.begin(), texts.col.end(), isEmpty) ||
           std::any_of(texts.row.begin(), texts.row.end(), isEmpty) || texts.delay.isEmpty() ||
           texts.active.isEmpty();
}

std::optional<QString> saveRefusal(const CalibrationTexts& texts) {
    if (hasEmptyField(texts)) {
        return QStringLiteral("Missing data in one (or more) of the settings fields");
    }
    const Grid grids[] = {
        {texts.matrix, AxisOrder::None, 255, cellName},
        {texts.col, AxisOrder::NotDecreasing, 255, colName},
        {texts.row, AxisOrder::NotIncreasing, 100, rowName},
    };
    // Numbers first: the order of an axis means nothing while a neighbour is not a number.
    for (const Grid& grid : grids) {
        if (auto problem = notANumber(grid)) {
            return problem;
        }
    }
    for (const Grid& grid : grids) {
        if (auto problem = notAsCommitted(grid)) {
            return problem;
        }
    }
    if (!delayByte(texts.delay)) {
        return QStringLiteral(
                   "The Startup Time Delay is \"%1\". It must be a number of minutes from 0 to 127.5 "
                   "before it can be saved to the KestroVar.")
            .arg(texts.delay);
    }
    // Only "Yes" switches correction on; any other text would silently switch it off.
    if (texts.active != QStringLiteral("Yes") && texts.active != QStringLiteral("No")) {
        return QStringLiteral(
                   "The Humidity Correction Active setting is \"%1\". It must be \"Yes\" or \"No\" "
                   "before it can be saved to the KestroVar.")
            .arg(texts.active);
    }
    return std::nullopt;
}

SettingsBytes settingsWriteBytes(const CalibrationTexts& texts) {
    SettingsImage image;
    image.delay = delayByte(texts.delay).value_or(0);
    image.correctionSwitch = texts.active == QStringLiteral("Yes") ? 1 : 0;
    for (std::size_t i = 0; i < image.col.size(); ++i)
        image.col[i] = gridByte(texts.col[i]).value_or(0);
    for (std::size_t j = 0; j < image.row.size(); ++j)
        image.row[j] = gridByte(texts.row[j]).value_or(0);
    for (std::size_t k = 0; k < image.matrix.size(); ++k)
        image.matrix[k] = gridByte(texts.matrix[k]).value_or(0);
    return settingsToWriteLayout(image);
}

}  // namespace kv
