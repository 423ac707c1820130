#include "core/calibration_rules.h"

#include "core/editing_rules.h"

#include <algorithm>

namespace kv {

namespace {

QString gridFieldName(const char* axis, int index) {
    return QStringLiteral("The %1 value %2").arg(QLatin1String(axis)).arg(index + 1);
}

QString gridProblem(const QString& field, const QString& text) {
    return QStringLiteral(
               "%1 is \"%2\". It must be a whole number from 0 to 255 before it can be saved to "
               "the KestroVar.")
        .arg(field, text);
}

}  // namespace

bool hasEmptyField(const CalibrationTexts& texts) {
    auto isEmpty = [](const QString& text) { return text.isEmpty(); };
    return std::any_of(texts.matrix.begin(), texts.matrix.end(), isEmpty) ||
           std::any_of(texts.col.begin(), texts.col.end(), isEmpty) ||
           std::any_of(texts.row.begin(), texts.row.end(), isEmpty) || texts.delay.isEmpty() ||
           texts.active.isEmpty();
}

std::optional<UnsendableField> firstUnsendableField(const CalibrationTexts& texts) {
    for (int k = 0; k < int(texts.matrix.size()); ++k) {
        if (!gridByte(texts.matrix[k])) {
            const QString field =
                QStringLiteral("The table cell in row %1, column %2").arg(k / 5 + 1).arg(k % 5 + 1);
            return UnsendableField{gridProblem(field, texts.matrix[k])};
        }
    }
    for (int i = 0; i < int(texts.col.size()); ++i) {
        if (!gridByte(texts.col[i])) {
            return UnsendableField{gridProblem(gridFieldName("MCT °F axis", i), texts.col[i])};
        }
    }
    for (int j = 0; j < int(texts.row.size()); ++j) {
        if (!gridByte(texts.row[j])) {
            return UnsendableField{gridProblem(gridFieldName("Dew point °F axis", j), texts.row[j])};
        }
    }
    if (!delayByte(texts.delay)) {
        return UnsendableField{
            QStringLiteral("The Startup Time Delay is \"%1\". It must be a number of minutes from 0 to 127.5 "
                           "before it can be saved to the KestroVar.")
                .arg(texts.delay)};
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
