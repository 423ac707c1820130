// The program's real serial stack (QSerialPort, QTimer) against the simulated device on a
// pseudo-terminal, in real time. Each test waits a few seconds at most.
#include "gui/main_window.h"
#include "protocol/device_protocol.h"
#include "simulator/pty_device.h"
#include "support/recording_platform.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#ifdef KV_HAS_PTY_DEVICE

namespace kv::test {
namespace {

class LinkOverPty : public ::testing::Test {
  protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(device.start(&error)) << error.toStdString();
        PortMap ports;
        ports.set(1, device.slavePath());
        platform = std::make_unique<RecordingPlatform>(ports);
        window = std::make_unique<Form1>(*platform);
        window->comp_Click(1);
    }

    bool live() const { return window->rxMode == 1 && !window->Text1->text().isEmpty(); }
    void connectAndWaitForReadings() {
        window->Command1->click();
        ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));
    }

    sim::PtyDevice device;
    std::unique_ptr<RecordingPlatform> platform;
    std::unique_ptr<Form1> window;
};

TEST_F(LinkOverPty, ConnectShowsLiveReadingsFromTheFirstRequest) {
    window->Command1->click();
    EXPECT_EQ(window->Command1->text(), "Disconnect");
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));
    EXPECT_EQ(device.model().samplesRequested, 1);  // shown before the poll asked again
    EXPECT_TRUE(window->Text1->text().endsWith(u'V'));
    EXPECT_TRUE(window->Text2->text().endsWith(QString::fromUtf16(u"\u00B0F")));
    EXPECT_EQ(window->Text9->text(), "Yes");

    // The poll keeps the readings coming and the watchdog quiet.
    ASSERT_TRUE(waitUntil([this] { return device.model().samplesRequested >= 4; }, 4000));
    EXPECT_TRUE(platform->messages.isEmpty());
    EXPECT_EQ(window->Command1->text(), "Disconnect");
}

TEST_F(LinkOverPty, DisconnectClosesThePortWithoutAByte) {
    connectAndWaitForReadings();
    const QString reading = window->Text2->text();
    window->Command1->click();
    EXPECT_EQ(window->Command1->text(), "Connect to KestroVar");
    const std::size_t heard = device.heard().size();
    QTest::qWait(1000);
    EXPECT_EQ(device.heard().size(), heard);
    EXPECT_FALSE(device.programSideOpen());  // the program put the line back as it found it
    EXPECT_EQ(window->Text2->text(), reading);
    EXPECT_TRUE(platform->messages.isEmpty());
}

TEST_F(LinkOverPty, PauseTogglesTheDeviceAndTheCaptionFollows) {
    connectAndWaitForReadings();
    EXPECT_EQ(window->Command11->text(), "Pause Humidity Correction");
    window->Command11->click();
    EXPECT_TRUE(window->Command1->isVisibleTo(window.get()));
    EXPECT_EQ(window->Command1->text(), "Disconnect");
    ASSERT_TRUE(waitUntil([this] { return window->Text9->text() == "No"; }, 3000));
    EXPECT_EQ(window->Command11->text(), "Unpause Humidity Correction");
    EXPECT_TRUE(device.model().correctionPaused());
    EXPECT_EQ(std::count(device.heard().begin(), device.heard().end(), togglePause), 1);

    window->Command11->click();
    ASSERT_TRUE(waitUntil([this] { return window->Text9->text() == "Yes"; }, 3000));
    EXPECT_EQ(window->Command11->text(), "Pause Humidity Correction");
    EXPECT_TRUE(platform->messages.isEmpty());
}

TEST_F(LinkOverPty, AVanishingDeviceDropsTheLinkSilently) {
    connectAndWaitForReadings();
    const QString path = device.slavePath();
    device.vanish();
    ASSERT_TRUE(waitUntil([this] { return window->Command1->text() == "Connect to KestroVar"; }, 3000));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(window->selectedPort, 0);  // the menu was refreshed at once
    EXPECT_FALSE(window->Timer4->Enabled());
    QTest::qWait(1500);
    EXPECT_TRUE(platform->messages.isEmpty());
}

TEST_F(LinkOverPty, ASilentDeviceGetsTheWatchdogMessage) {
    device.model().setSilent(true);
    QElapsedTimer elapsed;
    elapsed.start();
    window->Command1->click();
    ASSERT_TRUE(waitUntil([this] { return !platform->messages.isEmpty(); }, 4000));
    EXPECT_GE(elapsed.elapsed(), 1150);
    EXPECT_EQ(platform->messages, QStringList{"Connection to KestroVar Failed"});
    EXPECT_EQ(window->Command1->text(), "Connect to KestroVar");
    EXPECT_FALSE(window->MSComm1->PortOpen());
    EXPECT_TRUE(window->Timer3->Enabled());
    EXPECT_GE(device.model().samplesRequested, 2);  // at the connect and at the poll 700 ms later
}

TEST_F(LinkOverPty, SettingsLoadAndVerifiedSaveGoThroughTheDevice) {
    connectAndWaitForReadings();
    window->Command2->click();  // load: about two settle waits
    EXPECT_EQ(window->Matrix[0]->text(), QString::number(device.model().settings().matrix[0]));
    EXPECT_EQ(window->Text7->text(), "2.5");
    EXPECT_EQ(window->Text8->text(), "Yes");
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));

    window->Matrix[7]->setText(QStringLiteral("99"));
    window->Command5->click();  // save with read-back: about 3.7 s
    EXPECT_EQ(platform->messages, QStringList{"Save to KestroVar Successful"});
    EXPECT_EQ(device.model().settings().matrix[7], 99);
    EXPECT_EQ(device.model().settingsWritten, 1);
    EXPECT_EQ(window->Command1->text(), "Disconnect");

    // A fresh load brings the saved value back from the device.
    window->Matrix[7]->setText(QStringLiteral("5"));
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));
    window->Command2->click();
    EXPECT_EQ(window->Matrix[7]->text(), "99");
    EXPECT_EQ(window->matrixDevice[7], "99");
    EXPECT_EQ(platform->messages, QStringList{"Save to KestroVar Successful"});
}

}  // namespace
}  // namespace kv::test

#endif
