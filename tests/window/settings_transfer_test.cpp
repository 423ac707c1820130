// Load Settings from KestroVar and Save Settings to KestroVar in virtual time: the bytes on the wire
// with their times, the editor, the device copies, the buttons and the banner.
#include "simulator/in_process_device.h"
#include "support/window_harness.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTest>

#include <QScopeGuard>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

// The device's side of a transfer: frames on 0x01, its settings image on 0x02, a settings write
// after 0x03. Deliberately small and separate from the simulator, so these tests pin the program.
struct TransferDevice {
    explicit TransferDevice(FakeSerial& serial) : serial(serial) {
        // The device's own calibration, in read layout: Col, Row, Matrix, delay x2, switch.
        const int cols[] = {10, 20, 70, 120, 170};
        const int rows[] = {100, 75, 65, 50, 25, 0};
        for (int c : cols)
            image.append(char(c));
        for (int r : rows)
            image.append(char(r));
        for (int k = 0; k < 30; ++k)
            image.append(char(k));
        image.append(char(6));  // 3 minutes
        image.append(char(1));  // Yes
        serial.deviceReceives = [this](std::uint8_t byte) { receive(byte); };
    }

    void receive(std::uint8_t byte) {
        if (expectWrite > 0) {
            written.append(char(byte));
            if (--expectWrite == 0) {
                // Write layout (delay, switch, Col, Row, Matrix) back to read layout.
                image = written.mid(2, 41) + written.mid(0, 1) + written.mid(1, 1);
                if (afterWrite)
                    afterWrite(image);
            }
            return;
        }
        switch (byte) {
            case 0x01:
                if (answersFrames)
                    serial.deliver(frame(), 20);
                break;
            case 0x02:
                if (answersSettings)
                    serial.deliver(image, 30);
                break;
            case 0x03:
                expectWrite = 43;
                written.clear();
                break;
            default:
                break;
        }
    }

    static QByteArray frame() {
        QByteArray f(25, '\0');
        f[24] = 1;
        return f;
    }

    FakeSerial& serial;
    QByteArray image;
    QByteArray written;
    int expectWrite = 0;
    bool answersFrames = true;
    bool answersSettings = true;
    std::function<void(QByteArray&)> afterWrite;  // what the device makes of a write
};

struct Live {
    WindowHarness h;
    Form1* w = nullptr;
    std::unique_ptr<TransferDevice> device;

    Live() {
        h.platform.presentPorts = {2};
        h.iniFile() = bytesOf({2, 0, 2, 0});
        w = &h.start();
        device = std::make_unique<TransferDevice>(h.serial());
        w->Command1_Click();
        h.clock().advanceBy(100);  // the first frame is in
        h.serial().clearLog();
    }
    qint64 now() { return h.clock().now(); }
};

std::vector<std::pair<qint64, int>> relativeWrites(const FakeSerial& serial, qint64 start) {
    std::vector<std::pair<qint64, int>> result;
    for (auto [time, byte] : serial.writes())
        result.emplace_back(time - start, byte);
    return result;
}

struct ButtonsSeen {
    bool bannerVisible = false;
    QString banner;
    bool anyButtonEnabled = true;
};

TEST(SettingsTransfer, LoadAsksOnceAfterASettleWaitAndFillsTheEditor) {
    Live live;
    Form1& w = *live.w;
    ASSERT_EQ(w.rxMode, 1);
    auto seen = std::make_shared<ButtonsSeen>();
    live.h.clock().schedule(live.now() + 500, [&w, seen] {
        seen->bannerVisible = w.Label6->isVisibleTo(&w);
        seen->banner = w.Label6->text();
        seen->anyButtonEnabled = w.Command1->isEnabled() || w.Command11->isEnabled() ||
                                 w.Command2->isEnabled() || w.Command5->isEnabled();
    });
    const qint64 start = live.now();
    w.Command2_Click();

    EXPECT_EQ(relativeWrites(live.h.serial(), start),
              (std::vector<std::pair<qint64, int>>{{1000, 0x02}, {2000, 0x01}}));
    EXPECT_TRUE(seen->bannerVisible);
    EXPECT_EQ(seen->banner, "Loading Settings from Kestrovar.....");
    EXPECT_FALSE(seen->anyButtonEnabled);

    EXPECT_EQ(w.Col[3]->text(), "120");
    EXPECT_EQ(w.Row[1]->text(), "75");
    EXPECT_EQ(w.Matrix[29]->text(), "29");
    EXPECT_EQ(w.Text7->text(), "3");
    EXPECT_EQ(w.Text8->text(), "Yes");
    EXPECT_EQ(w.colDevice[4], "170");
    EXPECT_EQ(w.matrixDevice[7], "7");
    EXPECT_EQ(w.delayDevice, 3.0f);
    EXPECT_EQ(w.activeDevice, "Yes");

    // The live link is back; the next frame makes it live again.
    EXPECT_EQ(w.Command1->text(), "Disconnect");
    EXPECT_EQ(w.rxMode, 0);
    EXPECT_EQ(live.h.serial().threshold(), 25);
    EXPECT_FALSE(w.Label6->isVisibleTo(&w));
    for (auto* b : {w.Command1, w.Command11, w.Command2, w.Command5})
        EXPECT_TRUE(b->isEnabled());
    EXPECT_TRUE(live.h.platform.messageTexts().isEmpty());
    live.h.clock().advanceBy(100);
    EXPECT_EQ(w.rxMode, 1);
}

TEST(SettingsTransfer, LoadWithoutAnAnswerSaysSoAndChangesNothing) {
    Live live;
    Form1& w = *live.w;
    live.device->answersSettings = false;
    w.Matrix[0]->setText("12");
    w.Command2_Click();
    EXPECT_EQ(w.Matrix[0]->text(), "12");
    EXPECT_TRUE(w.matrixDevice[0].isEmpty());
    EXPECT_EQ(live.h.platform.messageTexts(), QStringList{"Load from KestroVar Failed"});
    EXPECT_EQ(w.Command1->text(), "Disconnect");
}

void fillEditor(Form1& w) {
    const char* cols[] = {"5", "40", "80", "130", "200"};
    const char* rows[] = {"90", "70", "60", "40", "20", "1"};
    for (int i = 0; i < 5; ++i)
        w.Col[i]->setText(cols[i]);
    for (int j = 0; j < 6; ++j)
        w.Row[j]->setText(rows[j]);
    for (int k = 0; k < 30; ++k)
        w.Matrix[k]->setText(QString::number(100 + k));
    w.Text7->setText("2.5");
    w.Text8->setText("Yes");
}

TEST(SettingsTransfer, SaveWritesThenVerifiesByReadingBack) {
    Live live;
    Form1& w = *live.w;
    fillEditor(w);
    auto seen = std::make_shared<QString>();
    live.h.clock().schedule(live.now() + 3000, [&w, seen] { *seen = w.Label6->text(); });
    const qint64 start = live.now();
    w.Command5_Click();

    std::vector<std::pair<qint64, int>> expected{{1000, 0x03}};
    QByteArray payload;
    payload.append(char(5)).append(char(1));
    for (int v : {5, 40, 80, 130, 200})
        payload.append(char(v));
    for (int v : {90, 70, 60, 40, 20, 1})
        payload.append(char(v));
    for (int k = 0; k < 30; ++k)
        payload.append(char(100 + k));
    for (char b : payload)
        expected.emplace_back(1700, std::uint8_t(b));
    expected.emplace_back(2700, 0x02);
    expected.emplace_back(3700, 0x01);
    EXPECT_EQ(relativeWrites(live.h.serial(), start), expected);
    EXPECT_EQ(*seen, "Verifying Settings in Kestrovar.......");

    ASSERT_EQ(live.h.platform.messages.size(), 1u);
    EXPECT_EQ(live.h.platform.messages[0].text, "Save to KestroVar Successful");
    EXPECT_EQ(live.h.platform.messages[0].time - start, 3700);
    EXPECT_EQ(w.Command1->text(), "Disconnect");
    EXPECT_FALSE(w.Label6->isVisibleTo(&w));
    for (auto* b : {w.Command1, w.Command11, w.Command2, w.Command5})
        EXPECT_TRUE(b->isEnabled());
    EXPECT_EQ(w.colDevice[4], "200");
    EXPECT_EQ(w.delayDevice, 2.5f);
    EXPECT_EQ(w.matrixSent[29], "129");
    for (auto* b : w.Matrix)
        EXPECT_EQ(Form1::backColor(b), w.windowBackground());
}

// --simulate where there is no pseudo-terminal: the device model behind the serial-control seam,
// its answers timed by the platform's timers, serves the window as a port does.
TEST(SettingsTransfer, TheSimulatedDeviceInTheProgramServesTheWindowAsAPort) {
    for (const char* line : {"19200,N,8,1", "9600,N,8,1"}) {
        SCOPED_TRACE(line);
        WindowHarness h;
        h.platform.presentPorts = {1};
        sim::InProcessDevice device(h.platform);
        h.platform.makeSerialControl = [&device] { return device.createSerialControl(); };
        Form1& w = h.start();
        // The program's device outlives its window (it is made first); so here.
        const auto closeFirst = qScopeGuard([&h] { h.window.reset(); });
        w.MSComm1->setSettings(line);
        w.comp_Click(1);
        w.Command1_Click();
        h.clock().advanceBy(1200);
        if (line[0] == '9') {  // the device hears nothing on a line at another speed
            EXPECT_EQ(h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"});
            continue;
        }
        EXPECT_TRUE(w.Text1->text().endsWith("V"));
        EXPECT_EQ(w.Text9->text(), "Yes");
        EXPECT_FALSE(device.createSerialControl()->setPortOpen(true));  // the line is held: in use

        fillEditor(w);
        w.Command5_Click();
        EXPECT_EQ(h.platform.messageTexts(), QStringList{"Save to KestroVar Successful"});
        EXPECT_EQ(device.model().settingsWritten, 1);
        EXPECT_EQ(device.model().settings().matrix[29], 129);
        h.clock().advanceBy(2000);
        EXPECT_EQ(w.Command1->text(), "Disconnect");

        device.vanish();  // pulled: the next poll cannot write, and the link drops without a word
        h.clock().advanceBy(700);
        EXPECT_EQ(w.Command1->text(), "Connect to KestroVar");
        EXPECT_EQ(h.platform.messages.size(), 1u);
    }
}

TEST(SettingsTransfer, ReadBackDifferencesAreMarkedAndReported) {
    Live live;
    Form1& w = *live.w;
    fillEditor(w);
    w.Text7->setText("2.3");  // only a file can put this here
    live.device->afterWrite = [](QByteArray& image) {
        image[11 + 7] = char(99);  // Matrix(7)
        image[1] = char(41);       // Col(1)
        image[42] = char(0);       // correction off
    };
    w.Command5_Click();

    // What went out for the delay and the switch.
    const QByteArray written = live.device->written;
    ASSERT_EQ(written.size(), 43);
    EXPECT_EQ(std::uint8_t(written[0]), 5) << "2.3 minutes doubled and made whole";
    EXPECT_EQ(std::uint8_t(written[1]), 1) << "\"Yes\" switches correction on";

    EXPECT_EQ(live.h.platform.messageTexts(), QStringList{"Save to KestroVar Failed"});
    const QColor cell = colorFromBgr(kCellDiffering);
    const QColor axis = colorFromBgr(kAxisDiffering);
    EXPECT_EQ(w.Matrix[7]->text(), "99");
    EXPECT_EQ(Form1::backColor(w.Matrix[7]), cell);
    EXPECT_EQ(Form1::backColor(w.Matrix[8]), w.windowBackground());
    EXPECT_EQ(w.Col[1]->text(), "41");
    EXPECT_EQ(Form1::backColor(w.Col[1]), axis);
    EXPECT_EQ(Form1::backColor(w.Col[2]), colorFromBgr(kAxisNormal));
    EXPECT_EQ(w.Text7->text(), "2.5");
    EXPECT_EQ(Form1::backColor(w.Text7), cell);
    EXPECT_EQ(w.Text8->text(), "No");
    EXPECT_EQ(Form1::backColor(w.Text8), cell);
    EXPECT_EQ(w.Command1->text(), "Disconnect");

    // A Load that brings the same values sets no text, yet the marks now say the boxes hold what the
    // device holds.
    live.h.clock().advanceBy(100);
    w.Command2_Click();
    for (QLineEdit* box : {w.Matrix[7], w.Text7, w.Text8})
        EXPECT_EQ(Form1::backColor(box), w.windowBackground()) << box->objectName().toStdString();
    EXPECT_EQ(Form1::backColor(w.Col[1]), colorFromBgr(kAxisNormal));
}

TEST(SettingsTransfer, SaveWithoutAReadBackIsNotASuccessAndVerifiesNothing) {
    for (bool portGone : {false, true}) {
        Live live;
        Form1& w = *live.w;
        fillEditor(w);
        w.matrixDevice[0] = "7";  // from an earlier Load: Matrix(0) differs from the device
        w.Matrix_Change(0);
        if (portGone) {
            // The adapter is taken away after the write phase, before the read-back.
            live.h.clock().schedule(live.now() + 2000, [&live] { live.h.platform.unopenable.insert(2); });
        } else {
            live.device->answersSettings = false;
        }
        w.Command5_Click();
        EXPECT_EQ(live.h.platform.messageTexts(),
                  QStringList{portGone ? "Connection to KestroVar Failed" : "Save to KestroVar Failed"});
        EXPECT_EQ(w.matrixDevice[0], "7") << portGone;
        EXPECT_EQ(Form1::backColor(w.Matrix[0]), colorFromBgr(kCellDiffering)) << portGone;
    }
}

TEST(SettingsTransfer, NothingCanDisturbATransferAndAllIsPutBackAfterwards) {
    for (bool load : {true, false}) {
        Live live;
        Form1& w = *live.w;
        fillEditor(w);
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        w.Command9->setEnabled(false);  // whatever was off before stays off after
        // The Com Port menu, the file, table, delay and Toggle buttons and the editor boxes still usable.
        auto usable = [&w] {
            int n = w.comp->menuAction()->isEnabled();
            for (QWidget* b :
                 {w.Command9, w.Command10, w.Command6, w.Command7, w.Command8, w.Command12, w.Command13})
                n += b->isEnabled();
            for (TextBox* box : w.findChildren<TextBox*>())
                n += !box->isReadOnly();
            return n;
        };
        auto during = std::make_shared<std::pair<int, QWidget*>>();
        live.h.clock().schedule(live.now() + 500, [&, during] {
            *during = {usable(), QApplication::focusWidget()};
        });
        QPushButton* clicked = load ? w.Command2 : w.Command5;
        QTest::mouseClick(clicked, Qt::LeftButton);
        EXPECT_EQ(during->first, 0) << load;
        EXPECT_NE(during->second, w.Col[0]) << load << ": keys typed now would land in Col(0)";
        EXPECT_EQ(usable(), 1 + 6 + 41) << load;
        EXPECT_FALSE(w.Command9->isEnabled()) << load;
        EXPECT_EQ(QApplication::focusWidget(), clicked) << load;
    }
}

TEST(SettingsTransfer, RefusedWithoutALiveLinkOrWithUnsendableValues) {
    struct Case {
        const char* what;
        bool live;
        bool load;
        std::function<void(Form1&)> edit;
        QString message;
    };
    const Case cases[] = {
        {"load before the first frame", false, true, nullptr,
         "Must be connected to KestroVar in order to load settings."},
        {"save before the first frame", false, false, nullptr,
         "Must be connected to KestroVar in order to save settings."},
        {"save with an empty cell", true, false, [](Form1& w) { w.Matrix[12]->clear(); },
         "Missing data in one (or more) of the settings fields"},
        {"save with an empty switch", true, false, [](Form1& w) { w.Text8->clear(); },
         "Missing data in one (or more) of the settings fields"},
        {"save with a cell above 255", true, false, [](Form1& w) { w.Matrix[3]->setText("300"); },
         "The table cell in row 1, column 4 is 300, above 255. The editor would make it 255. It must be "
         "corrected before it can be saved to the KestroVar."},
        {"save with a switch in lower case", true, false, [](Form1& w) { w.Text8->setText("yes"); },
         "The Humidity Correction Active setting is \"yes\". It must be \"Yes\" or \"No\" before it "
         "can be saved to the KestroVar."},
        {"save with a delay that is not a number", true, false, [](Form1& w) { w.Text7->setText("soon"); },
         "The Startup Time Delay is \"soon\". It must be a number of minutes from 0 to 127.5 before it can "
         "be "
         "saved to the KestroVar."},
        {"save with a delay above 127.5", true, false, [](Form1& w) { w.Text7->setText("128"); },
         "The Startup Time Delay is \"128\". It must be a number of minutes from 0 to 127.5 before it can be "
         "saved to the KestroVar."},
    };
    for (const Case& c : cases) {
        Live live;
        Form1& w = *live.w;
        fillEditor(w);
        if (!c.live) {
            live.device->answersFrames = false;
            w.Command1_Click();  // down
            w.Command1_Click();  // up, no frame yet
            live.h.serial().clearLog();
        }
        if (c.edit)
            c.edit(w);
        if (c.load) {
            w.Command2_Click();
        } else {
            w.Command5_Click();
        }
        EXPECT_EQ(live.h.platform.messageTexts(), QStringList{c.message}) << c.what;
        EXPECT_TRUE(live.h.serial().written().isEmpty()) << c.what;
        EXPECT_EQ(w.Command1->text(), "Disconnect") << c.what;
        EXPECT_TRUE(live.h.serial().PortOpen()) << c.what << ": the link stays up";
        EXPECT_FALSE(w.Label6->isVisibleTo(&w)) << c.what;
    }
}

TEST(SettingsTransfer, APortThatCannotBeOpenedEndsCleanlyDisconnected) {
    for (bool load : {true, false}) {
        Live live;
        Form1& w = *live.w;
        fillEditor(w);
        // The adapter is taken away during the first settle wait.
        live.h.clock().schedule(live.now() + 300, [&live] { live.h.platform.unopenable.insert(2); });
        if (load) {
            w.Command2_Click();
        } else {
            w.Command5_Click();
        }
        EXPECT_EQ(live.h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"}) << load;
        EXPECT_EQ(w.Command1->text(), "Connect to KestroVar");
        EXPECT_FALSE(live.h.serial().PortOpen());
        EXPECT_FALSE(w.Label6->isVisibleTo(&w));
        for (auto* b : {w.Command1, w.Command11, w.Command2, w.Command5})
            EXPECT_TRUE(b->isEnabled());
        EXPECT_TRUE(w.Timer3->Enabled());
        EXPECT_FALSE(w.Timer1->Enabled());
        EXPECT_FALSE(w.Timer4->Enabled());
        EXPECT_FALSE(w.Timer2->Enabled());
        EXPECT_EQ(w.rxMode, 0);
        EXPECT_TRUE(live.h.serial().written().indexOf(char(0x03)) < 0) << "nothing of a save went out";
    }
}

}  // namespace
}  // namespace kv::test
