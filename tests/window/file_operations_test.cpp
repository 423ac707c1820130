// Save Settings to File and Load Settings from File, with the dialogs scripted and files in memory.
#include "support/window_harness.h"

#include <QDir>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

const QString kPath = QStringLiteral("/home/tech/site-a.cal");

void fillEditor(Form1& w) {
    const char* cols[] = {"5", "40", "80", "130", "200"};
    const char* rows[] = {"90", "70", "60", "40", "20", "1"};
    for (int i = 0; i < 5; ++i)
        w.Col[i]->setText(cols[i]);
    for (int j = 0; j < 6; ++j)
        w.Row[j]->setText(rows[j]);
    for (int k = 0; k < 30; ++k)
        w.Matrix[k]->setText(QString::number(k * 7 % 256));
    w.Text7->setText("2.5");
    w.Text8->setText("Yes");
}

QStringList allTexts(const Form1& w) {
    QStringList texts;
    for (auto* b : w.Col)
        texts << b->text();
    for (auto* b : w.Row)
        texts << b->text();
    for (auto* b : w.Matrix)
        texts << b->text();
    texts << w.Text7->text() << w.Text8->text();
    return texts;
}

TEST(CalibrationFile, SavedFileHoldsFiveCrLfLinesOfTheTextsAsTheyStand) {
    WindowHarness h;
    Form1& w = h.start();
    fillEditor(w);
    h.platform.dialogAnswers.push_back(kPath);
    w.Command9_Click();

    ASSERT_EQ(h.platform.dialogs.size(), 1u);
    const auto& dialog = h.platform.dialogs[0];
    EXPECT_EQ(dialog.kind, FileDialogKind::Save);
    EXPECT_EQ(dialog.options.title, "Save File");
    EXPECT_EQ(dialog.options.filter, "Calibration Settings (*.cal)|*.cal");
    EXPECT_EQ(dialog.options.filterIndex, 1);
    EXPECT_EQ(dialog.options.flags, 4);
    EXPECT_TRUE(dialog.options.cancelError);

    QByteArray matrixLine;
    for (int k = 0; k < 30; ++k) {
        matrixLine += QByteArray::number(k * 7 % 256) + (k < 29 ? "," : "");
    }
    EXPECT_EQ(h.platform.files[kPath],
              "5,40,80,130,200\r\n90,70,60,40,20,1\r\n" + matrixLine + "\r\n2.5\r\nYes\r\n");
    EXPECT_EQ(h.platform.messageTexts(), QStringList{"File saved"});
}

TEST(CalibrationFile, SaveAndLoadRestoreAllFortyThreeTexts) {
    WindowHarness h;
    Form1& w = h.start();
    fillEditor(w);
    const QStringList saved = allTexts(w);
    h.platform.dialogAnswers.push_back(kPath);
    w.Command9_Click();

    WindowHarness other;
    other.platform.files[kPath] = h.platform.files[kPath];
    Form1& fresh = other.start();
    other.platform.dialogAnswers.push_back(kPath);
    fresh.Command10_Click();
    EXPECT_EQ(allTexts(fresh), saved);
    EXPECT_TRUE(other.platform.messageTexts().isEmpty());
    ASSERT_EQ(other.platform.dialogs.size(), 1u);
    EXPECT_EQ(other.platform.dialogs[0].kind, FileDialogKind::Open);
    EXPECT_EQ(other.platform.dialogs[0].options.title, "Open File");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(fresh.colLastGood[i], saved[i]);
    for (int j = 0; j < 6; ++j)
        EXPECT_EQ(fresh.rowLastGood[j], saved[5 + j]);
}

TEST(CalibrationFile, ShortAndLongLinesFollowTheSplitRule) {
    struct Case {
        const char* what;
        QByteArray file;
        QStringList col;  // expected Col(0..4)
        QString text7;
        QString text8;
    };
    const Case cases[] = {
        {"two fields fill the first and the last box", "10,20\r\n", {"10", "20", "70", "120", "20"}, "", ""},
        {"empty line empties only the last box", "\r\n", {"10", "20", "70", "120", ""}, "", ""},
        {"exact line", "1,2,3,4,5\r\n", {"1", "2", "3", "4", "5"}, "", ""},
        {"three lines empty the delay and the switch",
         "1,2,3,4,5\r\n100,80,60,40,20,0\r\n1,2\r\n",
         {"1", "2", "3", "4", "5"},
         "",
         ""},
        {"LF line ends", "1,2,3,4,5\n1\n2\n4.5\nNo\n", {"1", "2", "3", "4", "5"}, "4.5", "No"},
        {"CR line ends", "1,2,3,4,5\r1\r2\r3\rYes\r", {"1", "2", "3", "4", "5"}, "3", "Yes"},
        {"lines after the fifth are ignored",
         "1,2,3,4,5\r\n\r\n\r\n7\r\nyes\r\nextra\r\n",
         {"1", "2", "3", "4", "5"},
         "7",
         "yes"},
    };
    for (const Case& c : cases) {
        WindowHarness h;
        Form1& w = h.start();
        w.Text7->setText("9");
        w.Text8->setText("No");
        h.platform.files[kPath] = c.file;
        h.platform.dialogAnswers.push_back(kPath);
        w.Command10_Click();
        QStringList col;
        for (auto* b : w.Col)
            col << b->text();
        EXPECT_EQ(col, c.col) << c.what;
        EXPECT_EQ(w.Text7->text(), c.text7) << c.what;
        EXPECT_EQ(w.Text8->text(), c.text8) << c.what;
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(w.colLastGood[i], w.Col[i]->text()) << c.what;
    }
}

TEST(CalibrationFile, FailuresChangeNothingAndSayWhy) {
    enum class Op { Save, Load };
    struct Case {
        const char* what;
        Op op;
        std::optional<QString> answer;
        bool unreadable;
        bool unwritable;
        QString message;  // the start of the one message shown
    };
    // A path in a message is written the way the system writes it: \ on Windows.
    const auto shown = [](const QString& path) { return QDir::toNativeSeparators(path); };
    const Case cases[] = {
        {"save cancelled", Op::Save, std::nullopt, false, false, "Save Cancelled"},
        {"load cancelled", Op::Load, std::nullopt, false, false, "Save Cancelled"},
        {"load of a name that does not exist", Op::Load, QStringLiteral("/nowhere/x.cal"), false, false,
         "The file \"" + shown("/nowhere/x.cal") + "\" could not be read: No such file or directory."},
        {"load of a folder", Op::Load, QStringLiteral("/home/tech/"), false, false,
         "The file \"" + shown("/home/tech/") + "\" could not be read: It is a folder, not a file."},
        {"load of an unreadable file", Op::Load, kPath, true, false,
         "The file \"" + shown(kPath) + "\" could not be read: Permission denied."},
        {"save to an unwritable target", Op::Save, kPath, false, true,
         "The file \"" + shown(kPath) + "\" could not be saved: Permission denied."},
    };
    for (const Case& c : cases) {
        WindowHarness h;
        Form1& w = h.start();
        fillEditor(w);
        const QStringList before = allTexts(w);
        const QByteArray oldFile = "old content\r\n";
        h.platform.files[kPath] = oldFile;
        if (c.unreadable)
            h.platform.unreadable.insert(kPath);
        if (c.unwritable)
            h.platform.unwritable.insert(kPath);
        h.platform.dialogAnswers.push_back(c.answer);
        if (c.op == Op::Save) {
            w.Command9_Click();
        } else {
            w.Command10_Click();
        }
        EXPECT_EQ(h.platform.messageTexts(), QStringList{c.message}) << c.what;
        EXPECT_EQ(allTexts(w), before) << c.what;
        EXPECT_EQ(h.platform.files[kPath], oldFile) << c.what;
    }
}

TEST(CalibrationFile, SaveWithAnEmptyFieldShowsNoDialog) {
    WindowHarness h;
    Form1& w = h.start();
    fillEditor(w);
    w.Matrix[17]->clear();
    w.Command9_Click();
    EXPECT_TRUE(h.platform.dialogs.empty());
    EXPECT_EQ(h.platform.messageTexts(), QStringList{"Missing data in one (or more) of the settings fields"});
}

}  // namespace
}  // namespace kv::test
