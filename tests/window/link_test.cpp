// The live link in virtual time: connect, poll, watchdog, the receive handler, the live display
// and the correction pause, against the simulated device or hand-made blocks.
#include "protocol/device_protocol.h"
#include "support/scripted_device.h"
#include "support/window_harness.h"

#include <QAction>
#include <QPushButton>

#include <gtest/gtest.h>

// Readable failure messages.
static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace kv::test {
namespace {

using namespace std::chrono_literals;

const QString kDegF = QString::fromUtf16(u"\u00B0F");

struct Link {
    WindowHarness h;
    Form1* w = nullptr;

    explicit Link(bool choosePort = true) {
        h.platform.presentPorts = {1, 2};
        w = &h.start();
        if (choosePort) {
            w->comp_Click(1);
        }
    }
    FakeSerial& serial() { return h.serial(); }
    VirtualClock& clock() { return h.clock(); }
    void at(qint64 ms) { h.clock().advanceTo(ms); }
    std::vector<QString> boxes() const {
        return {w->Text1->text(), w->Text2->text(), w->Text3->text(), w->Text4->text(),
                w->Text5->text(), w->Text6->text(), w->Text9->text()};
    }
    std::vector<WireEvent::Kind> wireKinds() const {
        std::vector<WireEvent::Kind> kinds;
        for (const WireEvent& e : h.platform.serial->log) {
            kinds.push_back(e.kind);
        }
        return kinds;
    }
};

// Everything the link state is made of.
struct LinkState {
    QString caption;
    bool portOpen;
    bool poll;
    bool watchdog;
    bool menuRefresh;
    bool pauseShown;
    int rxMode;
    bool operator==(const LinkState&) const = default;
};

void PrintTo(const LinkState& s, std::ostream* os) {
    *os << s.caption.toStdString() << " open=" << s.portOpen << " Timer1=" << s.poll
        << " Timer4=" << s.watchdog << " Timer3=" << s.menuRefresh << " Command11=" << s.pauseShown
        << " rxMode=" << s.rxMode;
}

LinkState stateOf(const Form1& w) {
    return {w.Command1->text(),
            w.MSComm1->PortOpen(),
            w.Timer1->Enabled(),
            w.Timer4->Enabled(),
            w.Timer3->Enabled(),
            w.Command11->isVisibleTo(&w),
            w.rxMode};
}

const LinkState kDisconnected{"Connect to KestroVar", false, false, false, true, false, 0};
const LinkState kWaiting{"Disconnect", true, true, true, false, true, 0};
const LinkState kLive{"Disconnect", true, true, true, false, true, 1};

using Writes = std::vector<std::pair<qint64, std::uint8_t>>;

TEST(Connect, WithoutAChosenPortOnlyShowsTheMessage) {
    Link link(false);
    link.at(1000);
    link.w->Command1_Click();
    EXPECT_EQ(link.h.platform.messageTexts(), QStringList{"Select a COM Port to Connect"});
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
    EXPECT_TRUE(link.serial().log.empty());
    link.at(3000);
    EXPECT_TRUE(link.serial().log.empty());
}

TEST(Connect, ASilentDeviceIsReportedAfter1200Ms) {
    Link link;
    link.w->Command1_Click();
    EXPECT_EQ(stateOf(*link.w), kWaiting);
    EXPECT_EQ(link.serial().threshold(), 25);
    EXPECT_EQ(link.serial().inputLen(), 25);

    link.at(1199);
    EXPECT_TRUE(link.h.platform.messages.empty());
    link.at(1200);
    ASSERT_EQ(link.h.platform.messages.size(), 1u);
    EXPECT_EQ(link.h.platform.messages[0].text, "Connection to KestroVar Failed");
    EXPECT_EQ(link.h.platform.messages[0].time, 1200);
    EXPECT_EQ(stateOf(*link.w), kDisconnected);

    const std::size_t probes = link.h.platform.probes.size();
    link.at(7000);
    EXPECT_EQ(link.serial().writes(), (Writes{{0, requestSample}, {700, requestSample}}));
    EXPECT_EQ(link.h.platform.messages.size(), 1u);
    EXPECT_EQ(link.h.platform.probes.size(), probes + 16);  // Timer3 refreshed the menu at 6200
}

TEST(Connect, EveryFrameRestartsTheWatchdog) {
    Link link;
    ScriptedDevice device(link.h.platform);
    link.w->Command1_Click();
    link.at(1);
    EXPECT_EQ(stateOf(*link.w), kWaiting);
    link.at(100);
    EXPECT_EQ(stateOf(*link.w), kLive);

    link.at(10'000);
    EXPECT_TRUE(link.h.platform.messages.empty());
    EXPECT_EQ(link.serial().writes().size(), 15u);  // 0, 700, ..., 9800
    EXPECT_EQ(link.serial().writes().back(), (std::pair<qint64, std::uint8_t>{9800, requestSample}));
    EXPECT_TRUE(link.w->Text1->text().endsWith("V"));
    EXPECT_TRUE(link.w->Text2->text().endsWith(kDegF));
    EXPECT_EQ(link.w->Text9->text(), "Yes");

    // The device falls silent: the watchdog counts from its last frame.
    device.model.setSilent(true);
    const auto lastFrame =
        std::chrono::ceil<std::chrono::milliseconds>(sim::byteArrival(9800ms + 20ms, 24)).count();
    link.at(lastFrame + 1199);
    EXPECT_TRUE(link.h.platform.messages.empty());
    link.at(lastFrame + 1200);
    ASSERT_EQ(link.h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"});
    EXPECT_EQ(link.h.platform.messages[0].time, lastFrame + 1200);
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
}

TEST(Connect, TheOpenPortIsNotOpenedAgainAndTheThresholdReturnsTo25) {
    Link link;
    ScriptedDevice device(link.h.platform);
    // A settings read left the port open with its threshold and read length at 43.
    link.w->MSComm1->setRThreshold(43);
    link.w->MSComm1->setInputLen(43);
    link.w->MSComm1->setPortOpen(true);
    link.serial().clearLog();

    link.w->Command1_Click();
    EXPECT_EQ(link.serial().threshold(), 25);
    EXPECT_EQ(link.serial().inputLen(), 25);
    EXPECT_EQ(link.wireKinds(), std::vector<WireEvent::Kind>{WireEvent::Write});
    link.at(100);
    EXPECT_EQ(stateOf(*link.w), kLive);
}

TEST(Disconnect, SendsNothingAndTheBoxesKeepTheirValues) {
    Link link;
    ScriptedDevice device(link.h.platform);
    link.w->Command1_Click();
    link.at(1000);
    const auto shown = link.boxes();
    ASSERT_FALSE(shown[0].isEmpty());
    link.serial().clearLog();

    link.w->Command1_Click();
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
    EXPECT_EQ(link.wireKinds(), std::vector<WireEvent::Kind>{WireEvent::Close});
    link.at(20'000);
    EXPECT_EQ(link.wireKinds(), std::vector<WireEvent::Kind>{WireEvent::Close});
    EXPECT_EQ(link.boxes(), shown);
    EXPECT_TRUE(link.h.platform.messages.empty());

    // Connecting again starts waiting for a frame; the boxes still show the old one meanwhile.
    link.w->Command1_Click();
    EXPECT_EQ(stateOf(*link.w), kWaiting);
    EXPECT_EQ(link.boxes(), shown);
}

TEST(Connect, AVanishedPortDropsTheLinkSilentlyAndRefreshesTheMenuAtOnce) {
    Link link;
    ScriptedDevice device(link.h.platform);
    link.w->Command1_Click();
    link.at(1000);
    const std::size_t probes = link.h.platform.probes.size();

    link.serial().vanish();
    link.at(1399);
    EXPECT_EQ(stateOf(*link.w).caption, "Disconnect");
    link.at(1400);  // the next poll cannot write
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
    EXPECT_EQ(link.h.platform.probes.size(), probes + 16);
    EXPECT_EQ(link.w->selectedPort, 0);
    EXPECT_FALSE(link.w->compItems[1]->isVisible());
    link.at(10'000);
    EXPECT_TRUE(link.h.platform.messages.empty());
}

TEST(Connect, APortChosenWhileConnectedDropsTheLinkAtTheNextPoll) {
    Link link;
    ScriptedDevice device(link.h.platform);
    link.w->Command1_Click();
    link.at(1000);
    link.w->comp_Click(2);
    EXPECT_FALSE(link.w->MSComm1->PortOpen());
    EXPECT_EQ(link.w->Command1->text(), "Disconnect");
    link.at(1400);
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
    EXPECT_EQ(link.serial().log.back().kind, WireEvent::WriteFailed);
    EXPECT_EQ(link.w->selectedPort, 1);
    EXPECT_EQ(link.w->MSComm1->CommPort(), 2);
    link.at(5000);
    EXPECT_TRUE(link.h.platform.messages.empty());
}

TEST(Connect, APortThatCannotBeOpenedIsReportedByTheWatchdog) {
    Link link;
    link.h.platform.unopenable = {1};
    link.w->Command1_Click();
    EXPECT_EQ(link.wireKinds(), std::vector<WireEvent::Kind>{WireEvent::OpenFailed});
    EXPECT_FALSE(link.w->Timer1->Enabled());
    EXPECT_FALSE(link.w->Timer3->Enabled());
    link.at(1200);
    EXPECT_EQ(link.h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"});
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
    EXPECT_TRUE(link.serial().writes().empty());
}

TEST(Connect, OneWatchdogMessageAtATime) {
    Link link;
    ScriptedDevice device(link.h.platform);
    device.model.setSilent(true);
    link.h.platform.messageHoldMs = 5000;
    link.h.platform.onMessageBox = [&link, &device](const QString&) {
        // While the first message is open the device answers one poll, then falls silent again, so
        // the restarted watchdog runs out once more.
        if (link.h.platform.messages.size() > 1)
            return;
        device.model.setSilent(false);
        link.clock().schedule(link.clock().now() + 300, [&device] { device.model.setSilent(true); });
    };
    link.w->Command1_Click();
    link.at(10'000);
    EXPECT_EQ(link.h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"});
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
}

TEST(Receive, AFrameFillsTheSevenBoxes) {
    struct Case {
        const char* what;
        std::array<float, kMonitoringFields> sample;
        std::uint8_t status;
        std::vector<QString> expected;  // Text1..Text6, Text9
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QString F = kDegF;
    const Case cases[] = {
        {"typical",
         {2.5f, 80.0f, -40.0f, 3.0f, 84.25f, 1234.5f},
         1,
         {"2.500V", "80.0" + F, "-40.0" + F, "3.000V", "84.2" + F, "1234.5" + F, "Yes"}},
        {"all zero",
         {0, 0, 0, 0, 0, 0},
         0,
         {"0.000V", "0.0" + F, "0.0" + F, "0.000V", "0.0" + F, "0.0" + F, "No"}},
        {"status 2 is not active",
         {0.04f, 0.04f, -0.0f, 0.0625f, 0.75f, 0.25f},
         2,
         {"0.040V", "0.0" + F, "0.0" + F, "0.062V", "0.8" + F, "0.2" + F, "No"}},
        {"no valid reading",
         {inf, nan, 10.0f, -inf, 1.0f, nan},
         1,
         {"----", "----", "10.0" + F, "----", "1.0" + F, "----", "Yes"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Link link;
        link.w->Command1_Click();
        link.serial().deliver(monitoringBlock(c.sample, c.status), 300);
        link.at(300);
        EXPECT_EQ(link.boxes(), c.expected);
        EXPECT_EQ(link.w->rxMode, 1);
        for (int i = 0; i < kMonitoringFields; ++i) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(link.w->monitoringSample[i]),
                      std::bit_cast<std::uint32_t>(c.sample[i]));
        }
        link.at(1499);  // restarted at 300
        EXPECT_TRUE(link.h.platform.messages.empty());
        link.at(1500);
        EXPECT_EQ(link.h.platform.messages.size(), 1u);
    }
}

// A technician copying a reading out of a box keeps the selection while the reading holds still;
// a new reading replaces the text as usual.
TEST(Receive, ASelectedReadingStaysSelectedUntilItChanges) {
    Link link;
    link.w->Command1_Click();
    const std::array<float, kMonitoringFields> still{2.5f, 80.0f, 50.0f, 3.0f, 84.0f, 84.0f};
    link.serial().deliver(monitoringBlock(still, 1), 100);
    link.at(100);
    link.w->Text2->selectAll();
    link.w->Text9->selectAll();

    std::array<float, kMonitoringFields> nudged = still;
    nudged[1] = 80.01f;  // still shows 80.0°F
    link.serial().deliver(monitoringBlock(nudged, 1), 700 - 100);
    link.at(700);
    EXPECT_EQ(link.w->Text2->selectedText(), "80.0" + kDegF);
    EXPECT_EQ(link.w->Text9->selectedText(), "Yes");

    nudged[1] = 81.0f;
    link.serial().deliver(monitoringBlock(nudged, 0), 1400 - 700);
    link.at(1400);
    EXPECT_EQ(link.w->Text2->text(), "81.0" + kDegF);
    EXPECT_EQ(link.w->Text2->selectedText(), "");
    EXPECT_EQ(link.w->Text9->text(), "No");
    EXPECT_EQ(link.w->Text9->selectedText(), "");
    EXPECT_EQ(link.w->rxMode, 1);
}

TEST(Receive, OtherBlockLengthsAndLineErrorsChangeNothing) {
    Link link;
    link.w->Command1_Click();
    link.serial().deliver(monitoringBlock({2.5f, 80, 40, 3, 84, 84}, 1), 100);
    link.at(100);
    const auto shown = link.boxes();

    QByteArray other = monitoringBlock({1, 1, 1, 1, 1, 1}, 0);
    other.chop(1);
    link.serial().deliver(other, 100);  // 24 bytes: below the threshold, no event yet
    link.at(200);
    link.serial().raiseEvent(comEvFrame);
    link.serial().raiseEvent(comEvRxParity);
    link.serial().raiseEvent(comEvBreak);
    link.at(300);
    EXPECT_EQ(link.serial().buffered(), 24);  // a line error reads nothing
    link.serial().raiseEvent(comEvReceive);   // the 24 bytes reach the handler as one block
    link.at(400);
    EXPECT_EQ(link.serial().buffered(), 0);
    EXPECT_EQ(link.boxes(), shown);
    EXPECT_EQ(link.w->rxMode, 1);
    EXPECT_EQ(link.w->monitoringSample[0], 2.5f);
    link.at(1300);  // the watchdog still counts from the frame at 100
    EXPECT_EQ(link.h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"});
}

TEST(Receive, ASpoiltAnswerCostsAtMostItsOwnBlock) {
    // Every reading shown or published must be one the device sent for a request (at 0, 700, ...).
    const QByteArray stranger = monitoringBlock({1, 2, 3, 4, 5, 6}, 1);
    struct Case {
        const char* name;
        std::function<void(Link&, sim::DeviceModel&)> spoil;  // at 1000 ms
        int published;                                        // frames on the feed by 5000 ms
    };
    const Case cases[] = {
        {"a byte lost: the watchdog acts as for any missing frame",
         [](Link&, sim::DeviceModel& m) { m.dropByteOfNextAnswer(); }, 2},
        {"a byte too many after a frame", [](Link&, sim::DeviceModel& m) { m.addByteToNextAnswer(); }, 8},
        {"a byte too many arriving with the frame",
         [&](Link& l, sim::DeviceModel&) { l.serial().deliver('\x55' + stranger, 100); }, 8},
        {"an answer still arriving when the next request goes out at 1400",
         [&](Link& l, sim::DeviceModel&) {
             l.serial().deliver(stranger.left(10), 395);
             l.serial().deliver(stranger.mid(10), 401);
         },
         8},
        {"a settings image with a byte too many",
         [](Link& l, sim::DeviceModel&) {
             l.serial().deliver(settingsBlock(sim::factorySettings()) + '\x55', 0);
             l.w->session->expect(kSettingsImageSize);
             l.at(1001);
             l.w->session->expect(kMonitoringFrameSize);
             EXPECT_EQ(l.w->session->imagesReceived(), 0);
         },
         8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Link link;
        ScriptedDevice device(link.h.platform);
        std::vector<FeedFrame> frames;
        QObject::connect(link.w->frameFeed, &FrameFeed::frameReceived,
                         [&frames](const FeedFrame& f) { frames.push_back(f); });
        link.w->Command1_Click();
        link.at(1000);
        c.spoil(link, device.model);
        link.at(5000);
        EXPECT_EQ(int(frames.size()), c.published);
        for (const FeedFrame& f : frames) {
            const qint64 asked = (f.timeMs - link.h.platform.wallClockBaseMs) / 700 * 700;
            EXPECT_EQ(f.values, device.model.sampleAt(std::chrono::milliseconds(asked)).sample) << asked;
        }
        EXPECT_EQ(link.h.platform.messageTexts().size(), c.published < 8 ? 1u : 0u);
    }
}

TEST(Receive, ASettingsImageFillsTheCalibrationBoxesAndDeviceCopies) {
    struct Case {
        std::uint8_t delay;
        std::uint8_t correctionSwitch;
        QString delayText;
        QString switchText;  // Text8 held "No" before
    };
    const Case cases[] = {{5, 1, "2.5", "Yes"},
                          {4, 0, "2", "No"},
                          {255, 1, "127.5", "Yes"},
                          {0, 7, "0", "No"},
                          {1, 255, "0.5", "No"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayText.toStdString());
        Link link;
        link.w->Text8->setText("No");
        SettingsImage image = sim::factorySettings();
        image.col = {0, 50, 100, 150, 255};
        image.delay = c.delay;
        image.correctionSwitch = c.correctionSwitch;
        link.w->MSComm1->setRThreshold(43);
        link.w->MSComm1->setInputLen(43);
        link.w->MSComm1->setPortOpen(true);
        link.serial().deliver(settingsBlock(image), 10);
        link.at(10);

        for (int k = 0; k < 5; ++k) {
            EXPECT_EQ(link.w->Col[k]->text(), QString::number(image.col[k]));
            EXPECT_EQ(link.w->colDevice[k], QString::number(image.col[k]));
            EXPECT_EQ(link.w->colLastGood[k], QString::number(image.col[k]));
        }
        for (int k = 0; k < 6; ++k) {
            EXPECT_EQ(link.w->Row[k]->text(), QString::number(image.row[k]));
            EXPECT_EQ(link.w->rowDevice[k], QString::number(image.row[k]));
        }
        for (int k = 0; k < 30; ++k) {
            EXPECT_EQ(link.w->Matrix[k]->text(), QString::number(image.matrix[k]));
            EXPECT_EQ(link.w->matrixDevice[k], QString::number(image.matrix[k]));
        }
        EXPECT_EQ(link.w->Text7->text(), c.delayText);
        EXPECT_EQ(link.w->delayDevice, float(c.delay) / 2);
        EXPECT_EQ(link.w->Text8->text(), c.switchText);
        EXPECT_EQ(link.w->activeDevice, c.switchText);
        EXPECT_EQ(link.w->session->imagesReceived(), 1);
        // Not a monitoring frame: neither the link state nor the live boxes change.
        EXPECT_EQ(link.w->rxMode, 0);
        EXPECT_FALSE(link.w->Timer4->Enabled());
        EXPECT_TRUE(link.w->Text1->text().isEmpty());
    }
}

TEST(Pause, WritesOnlyTogglePauseBetweenADisconnectAndAReconnect) {
    Link link;
    ScriptedDevice device(link.h.platform);
    bool command1ShownDuringToggle = true;
    const auto hear = link.serial().deviceReceives;
    link.serial().deviceReceives = [&](std::uint8_t byte) {
        if (byte == togglePause) {
            command1ShownDuringToggle = link.w->Command1->isVisibleTo(link.w);
        }
        hear(byte);
    };
    link.w->Command1_Click();
    link.at(1000);
    EXPECT_EQ(link.w->Command11->text(), "Pause Humidity Correction");
    link.serial().clearLog();

    link.w->Command11_Click();
    EXPECT_EQ(link.wireKinds(),
              (std::vector<WireEvent::Kind>{WireEvent::Close, WireEvent::Open, WireEvent::Write,
                                            WireEvent::Close, WireEvent::Open, WireEvent::Write}));
    EXPECT_EQ(link.serial().written(), bytesOf({togglePause, requestSample}));
    EXPECT_FALSE(command1ShownDuringToggle);
    EXPECT_TRUE(link.w->Command1->isVisibleTo(link.w));
    EXPECT_EQ(stateOf(*link.w), kWaiting);
    // The caption waits for the device to report the new state.
    EXPECT_EQ(link.w->Command11->text(), "Pause Humidity Correction");
    link.at(1100);
    EXPECT_EQ(link.w->Text9->text(), "No");
    EXPECT_EQ(link.w->Command11->text(), "Unpause Humidity Correction");
    EXPECT_EQ(device.model.pauseToggles, 1);

    link.w->Command11_Click();
    link.at(1200);
    EXPECT_EQ(link.w->Command11->text(), "Pause Humidity Correction");
    EXPECT_EQ(device.model.pauseToggles, 2);
    EXPECT_TRUE(link.h.platform.messages.empty());
}

TEST(Pause, WhileDisconnectedOnlyShowsTheMessage) {
    Link link;
    link.w->Command11_Click();
    EXPECT_EQ(link.h.platform.messageTexts(),
              QStringList{"Start Monitoring to Determine if Humidity Correction is Active"});
    EXPECT_TRUE(link.serial().log.empty());
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
}

TEST(Pause, APortThatCannotBeOpenedEndsInACleanDisconnect) {
    Link link;
    ScriptedDevice device(link.h.platform);
    link.w->Command1_Click();
    link.at(1000);
    link.h.platform.unopenable = {1};
    link.serial().clearLog();

    link.w->Command11_Click();
    EXPECT_EQ(link.wireKinds(),
              (std::vector<WireEvent::Kind>{WireEvent::Close, WireEvent::OpenFailed, WireEvent::OpenFailed}));
    EXPECT_TRUE(link.w->Command1->isVisibleTo(link.w));
    EXPECT_EQ(link.w->Command1->text(), "Disconnect");
    EXPECT_FALSE(link.w->Timer3->Enabled());
    link.at(2200);
    EXPECT_EQ(link.h.platform.messageTexts(), QStringList{"Connection to KestroVar Failed"});
    EXPECT_EQ(stateOf(*link.w), kDisconnected);
    EXPECT_TRUE(link.w->Command1->isVisibleTo(link.w));
    EXPECT_EQ(device.model.pauseToggles, 0);
}

TEST(Pause, TheCaptionFollowsText9) {
    struct Case {
        const char* text;
        const char* caption;
    };
    const Case cases[] = {{"Yes", "Pause Humidity Correction"},
                          {"No", "Unpause Humidity Correction"},
                          {"Yes", "Pause Humidity Correction"},
                          {"yes", "Unpause Humidity Correction"},
                          {"", "Unpause Humidity Correction"}};
    Link link;
    EXPECT_EQ(link.w->Command11->text(), "Pause Humidity Correction");
    for (const Case& c : cases) {
        link.w->Text9->setText(c.text);
        EXPECT_EQ(link.w->Command11->text(), c.caption) << c.text;
    }
}

}  // namespace
}  // namespace kv::test
