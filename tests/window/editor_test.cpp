// The calibration editor as the user meets it: typing into the boxes key by key, committing with
// Enter or by leaving the box, the table, delay and toggle buttons, and the marking of boxes that
// differ from the device.
#include "support/window_harness.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <ostream>

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
static void PrintTo(const QColor& color, std::ostream* os) {
    *os << color.name().toStdString();
}

namespace kv::test {
namespace {

// Types a script into the focused box: characters as they are, and <Home>, <End>, <Left>, <Right>,
// <BS> (backspace), <All> (select all), <Enter>.
void press(QWidget* box, QStringView script) {
    static const std::map<QString, std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
        {"Home", {Qt::Key_Home, Qt::NoModifier}},    {"End", {Qt::Key_End, Qt::NoModifier}},
        {"Left", {Qt::Key_Left, Qt::NoModifier}},    {"Right", {Qt::Key_Right, Qt::NoModifier}},
        {"BS", {Qt::Key_Backspace, Qt::NoModifier}}, {"All", {Qt::Key_A, Qt::ControlModifier}},
        {"Enter", {Qt::Key_Return, Qt::NoModifier}},
    };
    for (qsizetype i = 0; i < script.size(); ++i) {
        if (script[i] == u'<') {
            const qsizetype end = script.indexOf(u'>', i);
            const auto& [key, modifiers] = keys.at(script.mid(i + 1, end - i - 1).toString());
            QTest::keyClick(box, key, modifiers);
            i = end;
        } else {
            QTest::keyClick(box, script[i].toLatin1());
        }
    }
}

enum class Array { Col, Row, Matrix };

const char* arrayName(Array a) {
    return a == Array::Col ? "Col" : a == Array::Row ? "Row" : "Matrix";
}

class Editor : public testing::Test {
  protected:
    void SetUp() override {
        w = &h.start();
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }

    TextBox* box(Array a, int index) const {
        switch (a) {
            case Array::Col:
                return w->Col[std::size_t(index)];
            case Array::Row:
                return w->Row[std::size_t(index)];
            case Array::Matrix:
                break;
        }
        return w->Matrix[std::size_t(index)];
    }
    const QString& lastGood(Array a, int index) const {
        const auto i = std::size_t(index);
        return a == Array::Col   ? w->colLastGood[i]
               : a == Array::Row ? w->rowLastGood[i]
                                 : w->matrixLastGood[i];
    }

    // Clicks into the box, so that it has the focus, and types the script there.
    void typeInto(QLineEdit* target, QStringView script) {
        QTest::mouseClick(target, Qt::LeftButton);
        ASSERT_TRUE(target->hasFocus());
        press(target, script);
    }

    // The editor as a settings image from the device leaves it.
    void deviceSettingsRead() {
        const char* col[] = {"10", "20", "70", "120", "170"};
        const char* row[] = {"100", "75", "65", "50", "25", "0"};
        for (int i = 0; i < 5; ++i) {
            w->Col[i]->setText(col[i]);
            w->colDevice[i] = w->colLastGood[i] = col[i];
        }
        for (int i = 0; i < 6; ++i) {
            w->Row[i]->setText(row[i]);
            w->rowDevice[i] = w->rowLastGood[i] = row[i];
        }
        for (int i = 0; i < 30; ++i) {
            w->Matrix[i]->setText(QString::number(5 * i));
            w->matrixDevice[i] = w->Matrix[i]->text();
        }
        w->Text7->setText("2.5");
        w->delayDevice = 2.5f;
        w->Text8->setText("Yes");
        w->activeDevice = w->Text8->text();
    }

    QColor axisNormal() const { return colorFromBgr(kAxisNormal); }
    QColor axisDiffering() const { return colorFromBgr(kAxisDiffering); }
    QColor cellNormal() const { return w->windowBackground(); }
    QColor cellDiffering() const { return colorFromBgr(kCellDiffering); }

    WindowHarness h;
    Form1* w = nullptr;
};

TEST_F(Editor, KeystrokesThatMakeATextNonNumericAreUndoneWhereTheUserTypes) {
    struct Case {
        const char16_t* start;
        const char16_t* keys;
        const char* text;
        int caret;
    };
    const Case cases[] = {
        {u"", u"7", "7", 1},
        {u"", u"12.5", "12.5", 4},
        {u"", u"-", "", 0},
        {u"", u".", "", 0},
        {u"", u"1e2", "12", 2},  // "1e" is not a number yet
        {u"12", u"<Home><Right>e", "1e2", 2},
        {u"70", u"<End>a", "70", 2},
        {u"70", u"<End>,", "70", 2},
        {u"70", u"<Home><Right>x", "70", 1},
        {u"70", u"<Home><Right>x5", "750", 2},
        {u"5", u"<Home>-", "-5", 1},
        {u"5", u"<Home>--", "-5", 1},
        {u"70", u"<End> ", "70 ", 3},
        {u"70", u"<End><BS><BS>", "", 0},
        {u"70", u"<All>a", "70", 2},
        {u"70", u"<All>9", "9", 1},
    };
    for (const Array a : {Array::Col, Array::Row, Array::Matrix}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(arrayName(a)) + " from \"" + QString::fromUtf16(c.start).toStdString() +
                         "\" typing " + QString::fromUtf16(c.keys).toStdString());
            TextBox* target = box(a, 3);
            target->setText(QString::fromUtf16(c.start));
            target->setFocus();
            press(target, c.keys);
            EXPECT_EQ(target->text(), c.text);
            EXPECT_EQ(target->cursorPosition(), c.caret);
            EXPECT_EQ(lastGood(a, 3), c.text);
        }
    }
}

enum class Commit { Enter, ClickElsewhere, Tab };

class EditorCommit : public Editor, public testing::WithParamInterface<Commit> {
  protected:
    void commit(QLineEdit* target) {
        switch (GetParam()) {
            case Commit::Enter:
                QTest::keyClick(target, Qt::Key_Return);
                break;
            case Commit::ClickElsewhere:
                QTest::mouseClick(w->Text1, Qt::LeftButton);
                ASSERT_FALSE(target->hasFocus());
                break;
            case Commit::Tab:
                QTest::keyClick(target, Qt::Key_Tab);
                ASSERT_FALSE(target->hasFocus());
                break;
        }
    }
};

TEST_P(EditorCommit, BringsTheBoxIntoOrderWithinItsLimitsAsAnInteger) {
    struct Case {
        Array array;
        int index;
        const char16_t* keys;  // typed over the box's text
        const char* committed;
    };
    // At start Col holds 10, 20, 70, 120, 170 and Row 100, 75, 65, 50, 25, 0.
    const Case cases[] = {
        {Array::Col, 2, u"300", "120"},  // out of order and out of range: the order wins
        {Array::Col, 0, u"5<Home>-", "0"}, {Array::Col, 1, u"15.5", "16"},
        {Array::Col, 1, u"20.5", "20"},    {Array::Col, 1, u"5", "10"},
        {Array::Col, 4, u"300", "255"},    {Array::Col, 2, u"070", "70"},
        {Array::Col, 2, u"99 ", "99"},     {Array::Row, 0, u"150", "100"},
        {Array::Row, 2, u"80", "75"},      {Array::Row, 3, u"20", "25"},
        {Array::Row, 3, u"30", "30"},      {Array::Row, 5, u"24.5", "24"},
        {Array::Matrix, 4, u"300", "255"}, {Array::Matrix, 4, u"3<Home>-", "0"},
        {Array::Matrix, 4, u"0.4", "0"},   {Array::Matrix, 4, u"12.5", "12"},
        {Array::Matrix, 4, u"13.5", "14"}, {Array::Matrix, 4, u"12<Home><Right>e", "100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(arrayName(c.array)) + "(" + std::to_string(c.index) + ") typed " +
                     QString::fromUtf16(c.keys).toStdString());
        h.window.reset();
        w = &h.start();
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));

        const QStringList colBefore = {w->Col[0]->text(), w->Col[1]->text(), w->Col[2]->text(),
                                       w->Col[3]->text(), w->Col[4]->text()};
        TextBox* target = box(c.array, c.index);
        typeInto(target, u"<All>");
        press(target, c.keys);
        commit(target);
        EXPECT_EQ(target->text(), c.committed);
        EXPECT_EQ(lastGood(c.array, c.index), c.committed);
        // Only the edited box changes.
        for (int i = 0; i < 5; ++i) {
            if (c.array != Array::Col || i != c.index) {
                EXPECT_EQ(w->Col[i]->text(), colBefore[i]);
            }
        }
    }
}

TEST_P(EditorCommit, AnEmptyNeighbourIsNotAValue) {
    typeInto(w->Col[3], u"<All><BS>");
    typeInto(w->Col[2], u"<All>300");
    commit(w->Col[2]);
    EXPECT_EQ(w->Col[2]->text(), "255");
    EXPECT_EQ(w->Col[3]->text(), "");

    typeInto(w->Row[1], u"<All><BS>");
    typeInto(w->Row[2], u"<All>80");
    commit(w->Row[2]);
    EXPECT_EQ(w->Row[2]->text(), "80");

    // An empty box itself stays empty and unmarked.
    w->matrixDevice[0] = "5";
    typeInto(w->Matrix[0], u"7<BS>");
    ASSERT_EQ(Form1::backColor(w->Matrix[0]), cellDiffering());
    Form1::setBackColor(w->Matrix[0], cellNormal());
    commit(w->Matrix[0]);
    EXPECT_EQ(w->Matrix[0]->text(), "");
    EXPECT_EQ(Form1::backColor(w->Matrix[0]), cellNormal()) << "the commit of an empty box does nothing";
}

INSTANTIATE_TEST_SUITE_P(EnterTabOrClick, EditorCommit,
                         testing::Values(Commit::Enter, Commit::ClickElsewhere, Commit::Tab),
                         [](const testing::TestParamInfo<Commit>& info) {
                             return info.param == Commit::Enter            ? "Enter"
                                    : info.param == Commit::ClickElsewhere ? "ClickElsewhere"
                                                                           : "Tab";
                         });

TEST_F(Editor, AButtonClickCommitsTheBoxBeingEditedBeforeItActs) {
    typeInto(w->Matrix[0], u"3<Home>-");
    ASSERT_EQ(w->Matrix[0]->text(), "-3");
    QTest::mouseClick(w->Command13, Qt::LeftButton);
    EXPECT_EQ(w->Matrix[0]->text(), "10") << "committed to 0 first, then raised by 10";

    typeInto(w->Col[2], u"<All>300");
    QTest::mouseClick(w->Command6, Qt::LeftButton);
    EXPECT_EQ(w->Col[2]->text(), "120");
    EXPECT_EQ(w->Text8->text(), "Yes");
}

TEST_F(Editor, TableButtonsMoveEveryCellByTen) {
    QTest::mouseClick(w->Command13, Qt::LeftButton);
    for (TextBox* cell : w->Matrix) {
        EXPECT_EQ(cell->text(), "10") << "an empty cell counts as 0";
    }

    h.window.reset();
    w = &h.start();
    w->Command12->click();
    for (TextBox* cell : w->Matrix) {
        EXPECT_EQ(cell->text(), "0");
    }

    w->Matrix[0]->setText("250");
    w->Matrix[1]->setText("12.5");  // only a file can leave a fraction
    w->Matrix[2]->setText("5");
    w->Command13->click();
    EXPECT_EQ(w->Matrix[0]->text(), "255");
    EXPECT_EQ(w->Matrix[1]->text(), "22.5");
    EXPECT_EQ(w->Matrix[2]->text(), "15");
    EXPECT_EQ(w->Matrix[3]->text(), "10");
    w->Command12->click();
    w->Command12->click();
    EXPECT_EQ(w->Matrix[0]->text(), "235");
    EXPECT_EQ(w->Matrix[1]->text(), "2.5");
    EXPECT_EQ(w->Matrix[2]->text(), "0");
    EXPECT_EQ(w->matrixLastGood[1], "2.5");
}

TEST_F(Editor, DelayButtonsStepByHalfAMinuteBetweenZeroAndThirty) {
    struct Case {
        const char* start;
        bool up;
        const char* result;
    };
    const Case cases[] = {
        {"", true, "0.5"},   {"", false, "0"},     {"0", true, "0.5"},    {"0", false, "0"},
        {"0.5", false, "0"}, {"29.5", true, "30"}, {"30", true, "30"},    {"30", false, "29.5"},
        {"2.5", true, "3"},  {"45", true, "30"},   {"45", false, "44.5"}, {"soon", true, "0.5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.start) + (c.up ? " +" : " -"));
        w->Text7->setText(c.start);
        QTest::mouseClick(c.up ? w->Command7 : w->Command8, Qt::LeftButton);
        EXPECT_EQ(w->Text7->text(), c.result);
    }
}

TEST_F(Editor, ToggleFlipsYesAndNoAndFillsAnEmptySwitch) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "Yes"}, {"Yes", "No"}, {"No", "Yes"}, {"yes", "yes"}, {"On", "On"},
    };
    for (const auto& [start, result] : cases) {
        w->Text8->setText(start);
        QTest::mouseClick(w->Command6, Qt::LeftButton);
        EXPECT_EQ(w->Text8->text(), result) << "from \"" << start << '"';
    }
}

TEST_F(Editor, WithoutDeviceValuesNothingIsMarked) {
    typeInto(w->Col[2], u"<All>7<Enter>");
    typeInto(w->Matrix[0], u"99<Enter>");
    w->Command13->click();
    w->Command7->click();
    w->Command6->click();
    for (TextBox* b : w->Col)
        EXPECT_EQ(Form1::backColor(b), axisNormal());
    for (TextBox* b : w->Matrix)
        EXPECT_EQ(Form1::backColor(b), cellNormal());
    EXPECT_EQ(Form1::backColor(w->Text7), cellNormal());
    EXPECT_EQ(Form1::backColor(w->Text8), cellNormal());
}

TEST_F(Editor, BoxesDifferingFromTheDeviceAreMarkedUntilTheyMatchAgain) {
    deviceSettingsRead();

    typeInto(w->Col[2], u"<All><BS>");
    EXPECT_EQ(Form1::backColor(w->Col[2]), axisDiffering()) << "empty differs from 70";
    press(w->Col[2], u"7");
    EXPECT_EQ(Form1::backColor(w->Col[2]), axisDiffering());
    press(w->Col[2], u"0");
    EXPECT_EQ(Form1::backColor(w->Col[2]), axisNormal());

    typeInto(w->Row[4], u"<End>1");
    EXPECT_EQ(Form1::backColor(w->Row[4]), axisDiffering());
    press(w->Row[4], u"<BS>");
    EXPECT_EQ(Form1::backColor(w->Row[4]), axisNormal());

    typeInto(w->Matrix[12], u"<End>5");
    EXPECT_EQ(w->Matrix[12]->text(), "605");
    EXPECT_EQ(Form1::backColor(w->Matrix[12]), cellDiffering());
    press(w->Matrix[12], u"<BS>");
    EXPECT_EQ(Form1::backColor(w->Matrix[12]), cellNormal());

    // Texts compare exactly: 050 is not 50 until the commit makes it so.
    typeInto(w->Col[1], u"<All>050");
    EXPECT_EQ(Form1::backColor(w->Col[1]), axisDiffering());
    press(w->Col[1], u"<Enter>");
    EXPECT_EQ(w->Col[1]->text(), "50");
    EXPECT_EQ(Form1::backColor(w->Col[1]), axisDiffering()) << "the device copy of Col(1) is 20";
    typeInto(w->Col[1], u"<All>020<Enter>");
    EXPECT_EQ(Form1::backColor(w->Col[1]), axisNormal());
}

TEST_F(Editor, CommitMarksEvenWhenItChangesNothing) {
    deviceSettingsRead();
    w->colDevice[0] = "11";  // the copy moved without the box hearing of it
    ASSERT_EQ(Form1::backColor(w->Col[0]), axisNormal());
    typeInto(w->Col[0], u"<Enter>");
    EXPECT_EQ(w->Col[0]->text(), "10");
    EXPECT_EQ(Form1::backColor(w->Col[0]), axisDiffering());
}

TEST_F(Editor, ButtonsMarkWhatTheyMoveAwayFromTheDevice) {
    deviceSettingsRead();
    w->Command13->click();
    for (TextBox* cell : w->Matrix)
        EXPECT_EQ(Form1::backColor(cell), cellDiffering());
    w->Command12->click();
    for (TextBox* cell : w->Matrix)
        EXPECT_EQ(Form1::backColor(cell), cellNormal()) << cell->text().toStdString();

    w->Command7->click();
    EXPECT_EQ(w->Text7->text(), "3");
    EXPECT_EQ(Form1::backColor(w->Text7), cellDiffering());
    w->Command8->click();
    EXPECT_EQ(Form1::backColor(w->Text7), cellNormal());
    w->Text7->setText("2.50");
    EXPECT_EQ(Form1::backColor(w->Text7), cellNormal()) << "the delay compares by value";

    w->Command6->click();
    EXPECT_EQ(w->Text8->text(), "No");
    EXPECT_EQ(Form1::backColor(w->Text8), cellDiffering());
    w->Command6->click();
    EXPECT_EQ(Form1::backColor(w->Text8), cellNormal());
}

}  // namespace
}  // namespace kv::test
