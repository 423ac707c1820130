// The .cal calibration settings file: five text lines holding the 43 editor texts as they stand.
//   1  Col(0)..Col(4), joined by ","
//   2  Row(0)..Row(5), joined by ","
//   3  Matrix(0)..Matrix(29), joined by ","
//   4  the startup delay text
//   5  the correction switch text
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <span>
#include <vector>

namespace kv {

inline constexpr int kCalibrationFileLines = 5;

struct CalibrationTexts {
    std::array<QString, 5> col;
    std::array<QString, 6> row;
    std::array<QString, 30> matrix;
    QString delay;
    QString active;
};

// The file's bytes: every line ended by CR LF, each text character for character (one byte per
// character, as Latin-1).
QByteArray calibrationFileContent(const CalibrationTexts& texts);

// Lines 1 to 5 of a file's bytes. A line may end in CR LF, LF or CR; a line the file does not have
// is empty; anything after line 5 is ignored.
std::array<QString, kCalibrationFileLines> calibrationFileLines(const QByteArray& bytes);

// One assignment of a loaded text to box `box` of a control array.
struct BoxWrite {
    int box = 0;
    QString text;
    friend bool operator==(const BoxWrite&, const BoxWrite&) = default;
};

// The assignments that spread a line over `boxCount` boxes, in the order they are made. Each box
// takes the text up to the next ","; when the commas run out the boxes keep their texts, and the
// last box takes all that is left of the line, commas included. So a short line fills the first
// boxes and the last one, an empty line empties only the last box, and a long line leaves its
// surplus in the last box. The last box may be written twice (the text up to its comma, then the
// rest); each write runs the box's change rule, so both matter.
std::vector<BoxWrite> splitLine(QStringView line, int boxCount);

// The texts a set of boxes holds after the writes of splitLine, with no change rule in between.
std::vector<QString> splitLineInto(QStringView line, std::span<const QString> current);

}  // namespace kv
