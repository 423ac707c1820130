#include "core/calibration/calibration_text.h"

#include "core/calibration/calibration_rules.h"
#include "core/calibration/editing_rules.h"

#include <span>

namespace kv {

namespace {

QString switchText(std::uint8_t value) {
    if (value == 1) {
        return QStringLiteral("Yes");
    }
    return value == 0 ? QStringLiteral("No") : QString::number(value);
}

std::array<QString, 43> fieldTexts(const Calibration& c) {
    std::array<QString, 43> texts;
    const CalibrationTexts t = calibrationTexts(c);
    for (int i = 0; i < 5; ++i)
        texts[i] = t.col[i];
    for (int j = 0; j < 6; ++j)
        texts[5 + j] = t.row[j];
    for (int k = 0; k < 30; ++k)
        texts[11 + k] = t.matrix[k];
    texts[41] = t.delay;
    texts[42] = t.active;
    return texts;
}

}  // namespace

CalibrationTexts calibrationTexts(const Calibration& calibration) {
    CalibrationTexts texts;
    for (std::size_t i = 0; i < calibration.col.size(); ++i)
        texts.col[i] = QString::number(calibration.col[i]);
    for (std::size_t j = 0; j < calibration.row.size(); ++j)
        texts.row[j] = QString::number(calibration.row[j]);
    for (std::size_t k = 0; k < calibration.matrix.size(); ++k)
        texts.matrix[k] = QString::number(calibration.matrix[k]);
    texts.delay = numberText(calibration.delayMinutes());
    texts.active = switchText(calibration.correctionSwitch);
    return texts;
}

Calibration calibrationFromTexts(const CalibrationTexts& texts) {
    const SettingsBytes bytes = settingsWriteBytes(texts);
    return settingsFromWriteLayout(bytes);
}

CompleteFile parseCompleteCalibrationFile(const QByteArray& content) {
    const std::array<QString, kCalibrationFileLines> lines = calibrationFileLines(content);
    CompleteFile result;
    CalibrationTexts texts;
    struct Grid {
        std::span<QString> boxes;
        const char* what;
    };
    const std::array<Grid, 3> grids{{{texts.col, "MCT °F axis values"},
                                     {texts.row, "dew point °F axis values"},
                                     {texts.matrix, "table cells"}}};
    for (int line = 0; line < 3; ++line) {
        const Grid& grid = grids[line];
        const qsizetype count = lines[line].isEmpty() ? 0 : lines[line].count(u',') + 1;
        if (count != qsizetype(grid.boxes.size())) {
            result.problem =
                QStringLiteral("line %1 holds %2 values; it must hold the %3 %4, separated by commas")
                    .arg(line + 1)
                    .arg(count)
                    .arg(grid.boxes.size())
                    .arg(QString::fromUtf8(grid.what));
            return result;
        }
        // Read as the window's Load Settings from File reads it, value for value.
        const std::vector<QString> values =
            splitLineInto(lines[line], std::vector<QString>(grid.boxes.size()));
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (values[i].isEmpty()) {
                result.problem = QStringLiteral("line %1: value %2 is empty").arg(line + 1).arg(i + 1);
                return result;
            }
            grid.boxes[std::size_t(i)] = values[i];
        }
    }
    texts.delay = lines[3];
    texts.active = lines[4];
    if (texts.delay.isEmpty()) {
        result.problem = QStringLiteral("line 4, the startup time delay, is empty or missing");
        return result;
    }
    if (texts.active.isEmpty()) {
        result.problem = QStringLiteral("line 5, the humidity correction switch, is empty or missing");
        return result;
    }
    result.texts = texts;
    return result;
}

QString calibrationFieldName(int field) {
    if (field < 5) {
        return QStringLiteral("MCT °F axis value %1").arg(field + 1);
    }
    if (field < 11) {
        return QStringLiteral("Dew point °F axis value %1").arg(field - 5 + 1);
    }
    if (field < 41) {
        const int k = field - 11;
        return QStringLiteral("Table row %1, column %2").arg(k / 5 + 1).arg(k % 5 + 1);
    }
    return field == 41 ? QStringLiteral("Startup Time Delay (min)")
                       : QStringLiteral("Humidity Correction Active");
}

QStringList calibrationDifferences(const Calibration& expected, const Calibration& actual,
                                   const QString& expectedName, const QString& actualName) {
    const std::array<QString, 43> want = fieldTexts(expected);
    const std::array<QString, 43> got = fieldTexts(actual);
    QStringList lines;
    for (int field = 0; field < 43; ++field) {
        if (want[field] != got[field]) {
            lines << QStringLiteral("%1: %2 %3, %4 %5")
                         .arg(calibrationFieldName(field), expectedName, want[field], actualName, got[field]);
        }
    }
    return lines;
}

QByteArray calibrationJson(const Calibration& calibration) {
    // Written by hand so that the keys keep the order people read them in; QJsonObject sorts them.
    auto numbers = [](auto begin, auto end) {
        QByteArray text = "[";
        for (auto it = begin; it != end; ++it) {
            text += (text.size() > 1 ? "," : "") + QByteArray::number(int(*it));
        }
        return text + ']';
    };
    QByteArray table = "[";
    for (int r = 0; r < 6; ++r) {
        const auto row = calibration.matrix.begin() + 5 * r;
        table += (r ? "," : "") + numbers(row, row + 5);
    }
    return "{\"col\":" + numbers(calibration.col.begin(), calibration.col.end()) +
           ",\"row\":" + numbers(calibration.row.begin(), calibration.row.end()) + ",\"table\":" + table +
           "],\"delay_minutes\":" + QByteArray::number(double(calibration.delayMinutes()), 'g', 16) +
           ",\"correction\":\"" + switchText(calibration.correctionSwitch).toUtf8() + "\"}";
}

}  // namespace kv
