// The .cal file: the bytes a save writes, the lines a load reads and how a line spreads over boxes.
#include "core/calibration/calibration_file.h"

#include <gtest/gtest.h>

#include <ostream>

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace kv {
namespace {

CalibrationTexts startTexts() {
    CalibrationTexts t;
    t.col = {"10", "20", "70", "120", "170"};
    t.row = {"100", "75", "65", "50", "25", "0"};
    return t;
}

CalibrationTexts filledTexts() {
    CalibrationTexts t = startTexts();
    for (std::size_t i = 0; i < t.matrix.size(); ++i) {
        t.matrix[i] = QString::number(i * 8);
    }
    t.delay = "2.5";
    t.active = "Yes";
    return t;
}

TEST(CalibrationFile, WritesFiveLinesEndedByCrLf) {
    const QByteArray expected =
        "10,20,70,120,170\r\n"
        "100,75,65,50,25,0\r\n"
        "0,8,16,24,32,40,48,56,64,72,80,88,96,104,112,120,128,136,144,152,160,168,176,184,192,200,208,"
        "216,224,232\r\n"
        "2.5\r\n"
        "Yes\r\n";
    EXPECT_EQ(calibrationFileContent(filledTexts()), expected);

    // Empty texts and texts as they stand, without any conversion.
    CalibrationTexts odd = startTexts();
    odd.col[1] = " 7 ";
    odd.col[2] = "070";
    odd.delay = "2.50";
    odd.active = "yes";
    EXPECT_EQ(calibrationFileContent(odd), QByteArray("10, 7 ,070,120,170\r\n100,75,65,50,25,0\r\n" +
                                                      QByteArray(29, ',') + "\r\n2.50\r\nyes\r\n"));
}

TEST(CalibrationFile, ReadsLinesEndedByCrLfLfOrCr) {
    using Lines = std::array<QString, kCalibrationFileLines>;
    const std::pair<QByteArray, Lines> cases[] = {
        {"a\r\nb\r\nc\r\nd\r\ne\r\n", {"a", "b", "c", "d", "e"}},
        {"a\nb\nc\nd\ne\n", {"a", "b", "c", "d", "e"}},
        {"a\rb\rc\rd\re\r", {"a", "b", "c", "d", "e"}},
        {"a\r\nb\nc\rd\r\ne", {"a", "b", "c", "d", "e"}},
        {"a\r\nb\r\nc\r\n", {"a", "b", "c", "", ""}},
        {"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7", {"1", "2", "3", "4", "5"}},
        {"", {"", "", "", "", ""}},
        {"\r\n\r\nx", {"", "", "x", "", ""}},
        {"a\r\r\nb", {"a", "", "b", "", ""}},
        {"a\n\rb", {"a", "", "b", "", ""}},
        {"caf\xe9\r\n", {QString::fromLatin1("caf\xe9"), "", "", "", ""}},
        {QByteArray("a\0b\r\n", 5), {QString::fromLatin1("a\0b", 3), "", "", "", ""}},
    };
    for (const auto& [bytes, lines] : cases) {
        SCOPED_TRACE(bytes.toPercentEncoding().toStdString());
        EXPECT_EQ(calibrationFileLines(bytes), lines);
    }
}

TEST(CalibrationFile, SavingAndLoadingRestoresAll43Texts) {
    CalibrationTexts saved = filledTexts();
    saved.col[3] = " 12.5 ";
    saved.matrix[29] = "";
    saved.matrix[0] = "";
    saved.delay = "";
    saved.active = QString::fromLatin1("Ja \xe9");

    // Start the load from boxes holding something else, so every text has to come from the file.
    CalibrationTexts loaded;
    loaded.col.fill("x");
    loaded.row.fill("x");
    loaded.matrix.fill("x");
    const auto lines = calibrationFileLines(calibrationFileContent(saved));
    const auto col = splitLineInto(lines[0], loaded.col);
    const auto row = splitLineInto(lines[1], loaded.row);
    const auto matrix = splitLineInto(lines[2], loaded.matrix);
    EXPECT_EQ(col, std::vector<QString>(saved.col.begin(), saved.col.end()));
    EXPECT_EQ(row, std::vector<QString>(saved.row.begin(), saved.row.end()));
    EXPECT_EQ(matrix, std::vector<QString>(saved.matrix.begin(), saved.matrix.end()));
    EXPECT_EQ(lines[3], saved.delay);
    EXPECT_EQ(lines[4], saved.active);
}

TEST(CalibrationFile, SplitsALineOverTheBoxes) {
    const std::vector<QString> current = {"a0", "a1", "a2", "a3", "a4"};
    const std::pair<QString, std::vector<QString>> cases[] = {
        {"1,2,3,4,5", {"1", "2", "3", "4", "5"}},
        {"10,20", {"10", "a1", "a2", "a3", "20"}},
        {"10,20,30", {"10", "20", "a2", "a3", "30"}},
        {"5", {"a0", "a1", "a2", "a3", "5"}},
        {"", {"a0", "a1", "a2", "a3", ""}},
        {"1,2,3,4,5,6,7", {"1", "2", "3", "4", "5,6,7"}},
        {"1,2,3,4,5,", {"1", "2", "3", "4", "5,"}},
        {"1,2,3,4,", {"1", "2", "3", "4", ""}},
        {",,,,", {"", "", "", "", ""}},
        {",", {"", "a1", "a2", "a3", ""}},
        {" 1 , 2 ", {" 1 ", "a1", "a2", "a3", " 2 "}},
    };
    for (const auto& [line, texts] : cases) {
        SCOPED_TRACE(line.toStdString());
        EXPECT_EQ(splitLineInto(line, current), texts);
    }
    // The six Row boxes and the thirty table cells follow the same rule.
    EXPECT_EQ(splitLineInto(u"100,75", std::vector<QString>(6, "r")),
              (std::vector<QString>{"100", "r", "r", "r", "r", "75"}));
    std::vector<QString> cells(30, "c");
    cells[0] = "1";
    cells[29] = "2";
    EXPECT_EQ(splitLineInto(u"1,2", std::vector<QString>(30, "c")), cells);
}

// Each write runs the box's change rule, which may undo it, so the order and the number of writes
// matter: a long line writes the last box twice.
TEST(CalibrationFile, SplitWritesBoxesInOrder) {
    using Writes = std::vector<BoxWrite>;
    EXPECT_EQ(splitLine(u"1,2,3,4,5", 5), (Writes{{0, "1"}, {1, "2"}, {2, "3"}, {3, "4"}, {4, "5"}}));
    EXPECT_EQ(splitLine(u"1,2,3,4,5,6", 5),
              (Writes{{0, "1"}, {1, "2"}, {2, "3"}, {3, "4"}, {4, "5"}, {4, "5,6"}}));
    EXPECT_EQ(splitLine(u"10,20", 5), (Writes{{0, "10"}, {4, "20"}}));
    EXPECT_EQ(splitLine(u"", 5), (Writes{{4, ""}}));
}

}  // namespace
}  // namespace kv
