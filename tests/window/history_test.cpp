// The calibration history from the window: the records each Load and Save leaves, a history folder
// that cannot be written, and the Calibration History window against the simulated device.
#include "core/record/certificate.h"
#include "gui/certificate_window.h"
#include "gui/history_window.h"
#include "support/scripted_device.h"
#include "support/window_harness.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace kv::test {
namespace {

struct Recorded {
    QTemporaryDir dir;
    WindowHarness h;
    Form1* w = nullptr;
    std::unique_ptr<ScriptedDevice> device;

    Recorded() {
        h.platform.presentPorts = {2};
        h.platform.portNames[2] = "/dev/ttyUSB0";
        h.iniFile() = bytesOf({2, 0, 2, 0});
        w = &h.start();
        w->setHistoryDirectory(dir.path());
        device = std::make_unique<ScriptedDevice>(h.platform);
        w->Command1_Click();
        h.clock().advanceBy(100);  // live
    }
};

CalibrationTexts factoryTexts() {
    const SettingsImage s = sim::factorySettings();
    CalibrationTexts t;
    for (int i = 0; i < 5; ++i)
        t.col[i] = QString::number(s.col[i]);
    for (int j = 0; j < 6; ++j)
        t.row[j] = QString::number(s.row[j]);
    for (int k = 0; k < 30; ++k)
        t.matrix[k] = QString::number(s.matrix[k]);
    t.delay = "2.5";
    t.active = "Yes";
    return t;
}

// The editor as the factory calibration with one cell changed and the switch text given.
CalibrationTexts edited(const QString& active) {
    CalibrationTexts t = factoryTexts();
    t.matrix[7] = "99";
    t.active = active;
    return t;
}

void putInEditor(Form1& w, const CalibrationTexts& t) {
    w.loadCalibrationFile(calibrationFileContent(t));
}

struct Expected {
    QString operation;
    QString result;
    CalibrationTexts values;
};

// What a device that stores the table wrongly holds after a save of edited("Yes").
CalibrationTexts storedWrongly() {
    CalibrationTexts t = edited("Yes");
    t.matrix[7] = "98";
    return t;
}

// From 2500 ms on, after the settings are written and before they are read back, the device holds
// storedWrongly().
void storeWronglyAfterTheWrite(Recorded& r) {
    ScriptedDevice* device = r.device.get();
    r.h.clock().schedule(r.h.clock().now() + 2500, [device] {
        SettingsImage image = device->model.settings();
        image.matrix[7] = 98;
        device->model.setSettings(image);
    });
}

const QString kUnwritable = QStringLiteral("the history folder \"%1\" could not be created");

TEST(History, EveryLoadAndSaveLeavesItsRecordsAfterItsOwnMessage) {
    struct Case {
        const char* name;
        const char* save;  // the switch text a save sends; none: a load
        bool silentAfterWrite;
        bool storesWrongly;
        bool unwritable;
        std::vector<Expected> records;  // newest first
        QStringList messages;           // %1: the unwritable folder
    };
    const QString cannotKeep = "The calibration history could not keep a record of this ";
    // clang-format off
    const Case cases[] = {
        {"load", nullptr, false, false, false, {{"load", "received", factoryTexts()}}, {}},
        {"save, read back as sent", "Yes", false, false, false,
         {{"save-read-back", "verified", edited("Yes")}, {"save-sent", "sent", edited("Yes")}},
         {"Save to KestroVar Successful"}},
        {"save, read back otherwise", "Yes", false, true, false,
         {{"save-read-back", "failed", storedWrongly()}, {"save-sent", "sent", edited("Yes")}},
         {"Save to KestroVar Failed"}},
        {"save, nothing read back", "Yes", true, false, false, {{"save-sent", "sent", edited("Yes")}},
         {"Save to KestroVar Failed"}},
        {"load, folder unwritable", nullptr, false, false, true, {}, {cannotKeep + "load: " + kUnwritable + "."}},
        {"save, folder unwritable", "Yes", false, false, true, {},
         {"Save to KestroVar Successful", cannotKeep + "save: " + kUnwritable + "."}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorded r;
        const QString blocked = r.dir.filePath("blocked");
        if (c.unwritable) {
            QFile file(blocked);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            r.w->setHistoryDirectory(blocked + "/history");
        }
        if (c.silentAfterWrite) {  // the settings are written by 2000 ms, read back from 2700 ms
            ScriptedDevice* device = r.device.get();
            r.h.clock().schedule(r.h.clock().now() + 2000, [device] { device->model.setSilent(true); });
        }
        if (c.storesWrongly) {
            storeWronglyAfterTheWrite(r);
        }
        if (c.save) {
            putInEditor(*r.w, edited(c.save));
            r.w->Command5_Click();
        } else {
            r.w->Command2_Click();
        }

        QStringList messages;
        for (const QString& m : c.messages)
            messages << (m.contains("%1") ? m.arg(QDir::toNativeSeparators(blocked + "/history")) : m);
        EXPECT_EQ(r.h.platform.messageTexts(), messages);
        EXPECT_EQ(r.w->Command1->text(), "Disconnect");  // the exchange completed either way

        qint64 readBackAskedMs = 0;
        for (auto [time, byte] : r.h.serial().writes())
            readBackAskedMs = byte == 0x02 ? r.h.platform.wallClockBaseMs + time : readBackAskedMs;
        const std::vector<HistoryRecord> records = r.w->historyStore().records();
        ASSERT_EQ(records.size(), c.records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            const HistoryEntry& e = records[i].entry;
            EXPECT_EQ(e.operation, c.records[i].operation);
            EXPECT_EQ(e.result, c.records[i].result);
            EXPECT_EQ(calibrationFileContent(e.values), calibrationFileContent(c.records[i].values));
            EXPECT_EQ(e.portPath, "/dev/ttyUSB0");
            EXPECT_EQ(e.program, "kestrovar-link 1.0.0");
            if (e.operation == "save-sent") {
                EXPECT_LT(e.timeMs, readBackAskedMs) << "kept before the read-back is asked for";
            } else {
                EXPECT_EQ(e.timeMs, r.h.platform.nowMs());
            }
        }
    }
}

TEST(History, ACloseDuringATransferLetsItFinishKeepItsRecordsThenClose) {
    struct Case {
        const char* name;
        bool save;
        bool exit;  // File > Exit instead of the close box
        int atMs;
        QStringList operations;  // newest first
    };
    const Case cases[] = {
        {"close box 1.5 s into a load", false, false, 1500, {"load"}},
        {"close box 1.6 s into a save", true, false, 1600, {"save-read-back", "save-sent"}},
        {"File > Exit 3 s into a save", true, true, 3000, {"save-read-back", "save-sent"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Recorded r;
        putInEditor(*r.w, edited("Yes"));
        int iniWritesAtClose = -1;
        r.h.clock().schedule(r.h.clock().now() + c.atMs, [&] {
            if (c.exit) {
                r.w->Exit->trigger();
            } else {
                EXPECT_FALSE(r.w->close()) << "the window stays until the transfer is over";
            }
            iniWritesAtClose = r.h.platform.binaryWrites;
        });
        if (c.save) {
            r.w->Command5_Click();
        } else {
            r.w->Command2_Click();
        }
        EXPECT_EQ(iniWritesAtClose, 0);
        EXPECT_EQ(r.h.platform.messageTexts(),
                  c.save ? QStringList{"Save to KestroVar Successful"} : QStringList{});
        QStringList operations;
        for (const HistoryRecord& record : r.w->historyStore().records())
            operations << record.entry.operation;
        EXPECT_EQ(operations, c.operations);
        EXPECT_EQ(r.h.platform.binaryWrites, 1) << "then shut down as ever";
        EXPECT_FALSE(r.h.serial().PortOpen());
        EXPECT_EQ(r.h.platform.ended, c.exit);
    }
}

// Changes a record behind the programs' backs, as one who may drop the database's triggers can.
void rewrite(const QString& folder, const QString& id) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "rewrite");
        db.setDatabaseName(folder + "/history.db");
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec("DROP TRIGGER IF EXISTS calibration_records_no_update"));
        ASSERT_TRUE(query.exec("UPDATE calibration_records SET result = 'verified' WHERE id = '" + id + "'"));
    }
    QSqlDatabase::removeDatabase("rewrite");
}

TEST(History, TheWindowShowsMarksLoadsIntoTheEditorAndExports) {
    Recorded r;
    Form1& w = *r.w;
    // The unit's tag, shown in the menu bar's corner as typed, goes with every record until the link
    // is down.
    r.h.platform.inputAnswers.push_back("<b>KV</b>");
    w.UnitUnderCalibration->trigger();
    EXPECT_GE(w.unitCorner->sizeHint().width(),
              w.unitCorner->fontMetrics().horizontalAdvance("Unit: <b>KV</b>"));
    r.h.platform.inputAnswers.push_back(" KV-0042 ");
    w.UnitUnderCalibration->trigger();
    EXPECT_EQ(w.unitCorner->text(), "Unit: KV-0042");
    r.h.platform.inputAnswers.push_back("KV-0042\nKV-0043");  // a line break would split the listing
    w.UnitUnderCalibration->trigger();
    EXPECT_EQ(r.h.platform.messageTexts().back(),
              "The unit tag was not changed: a tag cannot hold control "
              "characters such as a line break.");
    EXPECT_EQ(w.unitTag(), "KV-0042");
    // Beside the MQTT state.
    EXPECT_TRUE(w.menuBar()->cornerWidget()->isAncestorOf(w.unitCorner));
    w.Command2_Click();  // as found
    r.h.clock().advanceBy(100);
    storeWronglyAfterTheWrite(r);
    putInEditor(w, edited("Yes"));
    w.Command5_Click();  // "Save to KestroVar Failed": the editor shows the 98 read back

    ASSERT_EQ(w.CalibrationHistory->text(), "Calibration History…");
    w.CalibrationHistory->trigger();
    ASSERT_TRUE(w.frmHistory);
    HistoryWindow& history = *w.frmHistory;
    history.showMinimized();
    w.CalibrationHistory->trigger();
    EXPECT_FALSE(history.isMinimized());
    EXPECT_TRUE(history.isVisible());
    EXPECT_EQ(history.windowTitle(), "Calibration History - KestroVar Link");
    QAbstractItemModel& table = *history.table->model();
    ASSERT_EQ(table.rowCount(), 3);
    EXPECT_EQ(table.index(0, 1).data().toString(), "save-read-back");
    EXPECT_EQ(table.index(1, 1).data().toString(), "save-sent");
    EXPECT_EQ(table.index(1, 2).data().toString(), "sent");
    EXPECT_EQ(table.index(1, 3).data().toString(), "KV-0042");
    EXPECT_EQ(table.index(1, 5).data().toString(), "/dev/ttyUSB0");
    EXPECT_EQ(table.index(2, 1).data().toString(), "load");

    // What the user meant to write: the newest "save-sent". Only the cell the device got wrong
    // differs from the editor.
    history.select(1);
    EXPECT_EQ(history.matrix[7]->text(), "99");
    EXPECT_EQ(Form1::backColor(history.matrix[7]), colorFromBgr(kCellDiffering));
    EXPECT_EQ(Form1::backColor(history.matrix[8]), w.windowBackground());
    EXPECT_EQ(Form1::backColor(history.col[0]), colorFromBgr(kAxisNormal));
    history.LoadIntoEditor_Click();
    EXPECT_EQ(w.Matrix[7]->text(), "99");
    EXPECT_EQ(Form1::backColor(w.Matrix[7]), colorFromBgr(kCellDiffering));  // against the device's 98
    EXPECT_EQ(Form1::backColor(history.matrix[7]), w.windowBackground());

    // The load as found: the changed cell differs from the editor now.
    history.select(2);
    EXPECT_EQ(history.matrix[7]->text(), factoryTexts().matrix[7]);
    EXPECT_EQ(Form1::backColor(history.matrix[7]), colorFromBgr(kCellDiffering));
    r.h.platform.dialogAnswers.push_back("/home/tech/as-found.cal");
    history.Export_Click();
    EXPECT_EQ(r.h.platform.files["/home/tech/as-found.cal"], calibrationFileContent(factoryTexts()));
    EXPECT_EQ(r.h.platform.messageTexts().back(), "File saved");

    // A new exchange shows at once: the device holds what the failed save left, as read back. The
    // record cannot go into the editor while the image is on its way, nor after it is in.
    r.h.clock().advanceBy(100);
    history.select(1);
    bool closedDuringLoad = false;
    r.h.clock().schedule(r.h.clock().now() + 1900, [&] {
        closedDuringLoad = !history.loadIntoEditor->isEnabled();
        history.LoadIntoEditor_Click();
    });
    w.Command2_Click();
    EXPECT_TRUE(closedDuringLoad);
    EXPECT_EQ(w.Matrix[7]->text(), "98");
    EXPECT_TRUE(history.loadIntoEditor->isEnabled());
    ASSERT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.index(0, 6).data().toString(), table.index(1, 0).data().toString() + " save-read-back");
    EXPECT_EQ(history.selected()->entry.operation, "save-sent");  // the selection stayed

    // One unit's records; two records selected are marked against each other.
    history.showUnit("KV-0042");
    EXPECT_EQ(table.rowCount(), 4);
    history.showUnit("");
    history.select(1, 2);
    EXPECT_EQ(history.comparedWith(), &history.records()[2]);
    EXPECT_EQ(Form1::backColor(history.matrix[7]), colorFromBgr(kCellDiffering));  // 98 against 99
    EXPECT_EQ(Form1::backColor(history.matrix[8]), w.windowBackground());
    EXPECT_TRUE(history.note->text().startsWith("Marked: what differs from the record of "));

    // A record rewritten in the database is listed as damaged and cannot be used.
    rewrite(r.dir.path(), history.records()[1].id);
    history.reload();
    EXPECT_EQ(table.index(1, 2).data().toString(), "damaged");
    history.select(1);
    EXPECT_FALSE(history.loadIntoEditor->isEnabled());
    EXPECT_FALSE(history.exportRecord->isEnabled());
    EXPECT_EQ(history.note->text(), "This record is damaged: it has been changed since it was kept.");

    // A record rewritten since the listing is found out when it is to be used, and not loaded.
    history.select(0);
    rewrite(r.dir.path(), history.records()[0].id);
    const QString before = w.Col[0]->text();
    history.LoadIntoEditor_Click();
    EXPECT_EQ(r.h.platform.messageTexts().back(),
              "This record is damaged or can no longer be read from the history.");
    EXPECT_EQ(w.Col[0]->text(), before);

    // The user's disconnect ends the unit: its tag leaves the corner and the next records.
    w.Command1->click();
    EXPECT_FALSE(w.unitCorner->isVisibleTo(&w));
    EXPECT_EQ(w.unitTag(), "");
}

TEST(History, CertificateOfTheSelectedRecordOrWhyNot) {
    static QTemporaryDir settings;  // the laboratory's details of this test run, not the user's
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    Recorded r;
    Form1& w = *r.w;
    w.Command2_Click();  // as found
    r.h.clock().advanceBy(100);
    putInEditor(w, edited("Yes"));
    w.Command5_Click();  // verified
    w.CalibrationHistory_Click();
    HistoryWindow& history = *w.frmHistory;

    history.select(0);  // the verified read-back, before the lab's name is set
    history.certificate->click();
    EXPECT_EQ(
        r.h.platform.messageTexts().back(),
        "The laboratory's name is not set yet: Tools > Laboratory Details… sets it for every certificate.");
    QAction* details = w.Tools->findChild<QAction*>("LaboratoryDetails");
    ASSERT_TRUE(details);
    details->trigger();
    auto* dialog = w.findChild<LabDetailsDialog*>();
    ASSERT_TRUE(dialog);
    dialog->name->setText("Northfield Instruments");
    dialog->save();
    EXPECT_EQ(readLabDetails().name, "Northfield Instruments");

    r.h.platform.dialogAnswers.push_back("/home/tech/certificate.pdf");
    history.certificate->click();
    EXPECT_TRUE(r.h.platform.files["/home/tech/certificate.pdf"].startsWith("%PDF-"));
    EXPECT_EQ(r.h.platform.messageTexts().back(),
              "Certificate " + certificateNumber(history.records()[0]) + " saved");

    history.select(2);  // the load
    history.certificate->click();
    EXPECT_EQ(
        r.h.platform.messageTexts().back(),
        "No certificate: record " + history.records()[2].id +
            " has no verified read-back: it is a load record with the result \"received\"; a certificate is "
            "made from the read-back that verified a write.");
    r.h.platform.dialogAnswers.push_back("/home/tech/latest.pdf");
    w.Tools->findChild<QAction*>("CalibrationCertificate")->trigger();
    EXPECT_TRUE(r.h.platform.files["/home/tech/latest.pdf"].startsWith("%PDF-"));
    EXPECT_EQ(r.h.platform.messageTexts().back(),
              "Certificate " + certificateNumber(history.records()[0]) + " saved");

    // A history that cannot be read says its own reason, not that there is no record.
    QFile bad(r.dir.filePath("bad/history.db"));
    ASSERT_TRUE(QDir(r.dir.path()).mkdir("bad") && bad.open(QIODevice::WriteOnly) &&
                bad.write("not SQL") == 7);
    bad.close();
    w.setHistoryDirectory(r.dir.filePath("bad"));
    w.Tools->findChild<QAction*>("CalibrationCertificate")->trigger();
    EXPECT_EQ(r.h.platform.messageTexts().back(), "No certificate: the history database \"" +
                                                      QDir::toNativeSeparators(r.dir.filePath("bad")) +
                                                      "\" cannot be read: file is not a database.");
}

}  // namespace
}  // namespace kv::test
