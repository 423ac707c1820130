// The window's real serial stack on Windows (the Win32 serial control, Qt's timers) against the
// Linux simulated device on a COM port that wine maps to its pseudo-terminal, in real time.
// check_window_on_wine.py starts the device, maps the port and names it in KV_TEST_COM_PORT; a
// file named KV_TEST_VANISH, once made, asks it to close the pseudo-terminal like a pulled adapter.
#include "gui/main_window.h"
#include "simulator/device_model.h"
#include "support/recording_platform.h"

#include <QFile>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

class WindowOnComPort : public ::testing::Test {
  protected:
    void SetUp() override {
        const QString port = qEnvironmentVariable("KV_TEST_COM_PORT");
        ASSERT_FALSE(port.isEmpty()) << "check_window_on_wine.py runs these tests and names the COM port";
        PortMap ports;
        ports.set(1, port);
        platform = std::make_unique<RecordingPlatform>(ports);
        window = std::make_unique<Form1>(*platform);
        window->comp_Click(1);
    }

    bool live() const { return window->rxMode == 1 && !window->Text1->text().isEmpty(); }

    std::unique_ptr<RecordingPlatform> platform;
    std::unique_ptr<Form1> window;
};

TEST_F(WindowOnComPort, ConnectsShowsLiveReadingsLoadsAndSavesWithVerify) {
    window->Command1->click();
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));
    EXPECT_TRUE(window->Text1->text().endsWith(u'V'));
    EXPECT_TRUE(window->Text2->text().endsWith(QString::fromUtf16(u"\u00B0F")));
    EXPECT_EQ(window->Text9->text(), "Yes");
    // The poll goes on for a few frames without the watchdog.
    QTest::qWait(2500);
    EXPECT_TRUE(platform->messages.isEmpty());
    EXPECT_EQ(window->Command1->text(), "Disconnect");

    const SettingsImage factory = sim::factorySettings();
    window->Command2->click();  // load
    EXPECT_EQ(window->Matrix[0]->text(), QString::number(factory.matrix[0]));
    EXPECT_EQ(window->Text7->text(), "2.5");
    EXPECT_EQ(window->Text8->text(), "Yes");
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));

    window->Matrix[7]->setText(QStringLiteral("99"));
    window->Command5->click();  // save with read-back
    EXPECT_EQ(platform->messages, QStringList{"Save to KestroVar Successful"});
    EXPECT_EQ(window->Command1->text(), "Disconnect");

    // A fresh load brings the saved value back from the device.
    window->Matrix[7]->setText(QStringLiteral("5"));
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));
    window->Command2->click();
    EXPECT_EQ(window->Matrix[7]->text(), "99");
    EXPECT_EQ(window->matrixDevice[7], "99");
}

// Last (the tests run in this order): the device does not come back.
TEST_F(WindowOnComPort, APulledPortDropsTheLinkSilently) {
    window->Command1->click();
    ASSERT_TRUE(waitUntil([this] { return live(); }, 3000));
    QFile request(qEnvironmentVariable("KV_TEST_VANISH"));
    ASSERT_TRUE(request.open(QIODevice::WriteOnly));
    request.close();
    ASSERT_TRUE(waitUntil([this] { return window->Command1->text() == "Connect to KestroVar"; }, 5000));
    EXPECT_FALSE(window->Timer4->Enabled());
    QTest::qWait(1500);
    EXPECT_TRUE(platform->messages.isEmpty()) << platform->messages.join(u'\n').toStdString();
}

}  // namespace
}  // namespace kv::test
