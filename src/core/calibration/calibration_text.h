// The calibration between its bytes and its texts, for everything that handles it without the
// editor: the .cal text of a device's calibration, a file that must hold every value, the fields
// that differ between two calibrations, and the calibration as JSON.
#pragma once

#include "core/calibration/calibration_file.h"
#include "protocol/device_protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace kv {

// The texts the editor shows for a calibration read from the device: the grid values as integers,
// the delay in minutes (2.5), the switch "Yes" for 1 and "No" for 0 (any other byte as its number).
CalibrationTexts calibrationTexts(const Calibration& calibration);

// The calibration that texts are sent as; only for texts the save would not refuse.
Calibration calibrationFromTexts(const CalibrationTexts& texts);

// A .cal file that must hold every value: five lines, the first three with exactly 5, 6 and 30
// values, no value empty. Anything after line 5 is ignored, as the editor ignores it.
struct CompleteFile {
    std::optional<CalibrationTexts> texts;
    QString problem;  // why not, naming the line
};
CompleteFile parseCompleteCalibrationFile(const QByteArray& content);

// The name a person gives field k of the 43 (0..4 column axis, 5..10 row axis, 11..40 the table,
// 41 the delay, 42 the switch): "MCT °F axis value 3", "Table row 2, column 4".
QString calibrationFieldName(int field);

// One line per field that differs: "Table row 2, column 4: file 30, device 28", with `expectedName`
// and `actualName` naming the two sides.
QStringList calibrationDifferences(const Calibration& expected, const Calibration& actual,
                                   const QString& expectedName, const QString& actualName);

// {"col":[5],"row":[6],"table":[6 rows of 5],"delay_minutes":2.5,"correction":"Yes"}
QByteArray calibrationJson(const Calibration& calibration);

}  // namespace kv
