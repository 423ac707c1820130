// The application shell: start-up, the Com Port menu, comsetting.ini, shut-down and About.
#include "gui/about_dialog.h"
#include "gui/chart_window.h"
#include "gui/trend_tools.h"
#include "support/window_harness.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QToolTip>

#include <gtest/gtest.h>

namespace kv::test {
namespace {

const QString kIni = QStringLiteral("comsetting.ini");

std::vector<int> visiblePorts(const Form1& w) {
    std::vector<int> ports;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (w.compItems[n]->isVisible()) {
            ports.push_back(n);
        }
    }
    return ports;
}

std::vector<int> checkedPorts(const Form1& w) {
    std::vector<int> ports;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (w.compItems[n]->isChecked()) {
            ports.push_back(n);
        }
    }
    return ports;
}

// What a user sees when resting the pointer on an item of the open menu: its tool tip, or nothing.
QString toolTipShown(QMenu* menu, QAction* item) {
    menu->popup(QPoint(0, 0));
    const QPoint at = menu->actionGeometry(item).center();
    // A tip that is hidden fades out later, keeping its text; a marker tells a new tip from none.
    const QString none = QStringLiteral("(no tool tip)");
    QToolTip::showText(menu->mapToGlobal(at), none, menu);
    QHelpEvent event(QEvent::ToolTip, at, menu->mapToGlobal(at));
    QApplication::sendEvent(menu, &event);
    const QString shown = QToolTip::text();
    QToolTip::hideText();
    menu->hide();
    return shown == none ? QString() : shown;
}

TEST(StartUp, WithoutPortFileCreatesItEmptyAndChoosesNothing) {
    WindowHarness h;
    h.platform.presentPorts = {1, 3};
    Form1& w = h.start();

    ASSERT_TRUE(h.platform.files.count(kIni));
    EXPECT_TRUE(h.platform.files[kIni].isEmpty());
    EXPECT_EQ(w.selectedPort, 0);
    EXPECT_TRUE(checkedPorts(w).empty());
    EXPECT_EQ(visiblePorts(w), (std::vector<int>{1, 3}));
    EXPECT_EQ(h.serial().settings(), "19200,N,8,1");
    EXPECT_FALSE(h.serial().PortOpen());

    // Shared state starts at its documented values.
    EXPECT_EQ(w.rxMode, 0);
    EXPECT_EQ(w.delayDevice, 255.0f);
    EXPECT_TRUE(w.activeDevice.isEmpty());
    EXPECT_EQ(w.colLastGood, (std::array<QString, 5>{"10", "20", "70", "120", "170"}));
    EXPECT_EQ(w.rowLastGood, (std::array<QString, 6>{"100", "75", "65", "50", "25", "0"}));
    for (const QString& s : w.colDevice)
        EXPECT_TRUE(s.isEmpty());
    for (const QString& s : w.matrixDevice)
        EXPECT_TRUE(s.isEmpty());

    // Disconnected: only the menu refresh runs.
    EXPECT_FALSE(w.Timer1->Enabled());
    EXPECT_FALSE(w.Timer2->Enabled());
    EXPECT_TRUE(w.Timer3->Enabled());
    EXPECT_FALSE(w.Timer4->Enabled());
    EXPECT_EQ(w.Timer1->Interval(), 700);
    EXPECT_EQ(w.Timer2->Interval(), 1000);
    EXPECT_EQ(w.Timer3->Interval(), 5000);
    EXPECT_EQ(w.Timer4->Interval(), 1200);
    EXPECT_EQ(w.Command1->text(), "Connect to KestroVar");
    EXPECT_FALSE(w.Command11->isVisibleTo(&w));
    EXPECT_FALSE(w.Label6->isVisibleTo(&w));
}

TEST(PortMenu, ShowsExistingPortsAndChecksTheRememberedOne) {
    struct Case {
        const char* what;
        std::set<int> present;
        QByteArray file;
        std::vector<int> visible;
        std::vector<int> checked;
        int selectedPort;
        bool noPortsItem;
        int commPort;  // 0: not checked
    };
    const Case cases[] = {
        {"ports 1 and 3, file holds 3", {1, 3}, bytesOf({2, 0, 3, 0}), {1, 3}, {3}, 1, false, 3},
        {"ports 1 and 3, empty file", {1, 3}, {}, {1, 3}, {}, 0, false, 0},
        {"remembered port absent", {1, 2}, bytesOf({2, 0, 3, 0}), {1, 2}, {}, 0, false, 0},
        {"no port at all", {}, bytesOf({2, 0, 3, 0}), {}, {}, 0, true, 0},
        {"file of another numeric width", {5}, bytesOf({3, 0, 5, 0, 0, 0}), {5}, {5}, 1, false, 5},
        {"garbage file", {1, 3}, bytesOf({8, 0, 3, 0}), {1, 3}, {}, 0, false, 0},
        {"all sixteen",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         bytesOf({2, 0, 16, 0}),
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
         {16},
         1,
         false,
         16},
    };
    for (const Case& c : cases) {
        WindowHarness h;
        h.platform.presentPorts = c.present;
        h.iniFile() = c.file;
        Form1& w = h.start();
        EXPECT_EQ(visiblePorts(w), c.visible) << c.what;
        EXPECT_EQ(checkedPorts(w), c.checked) << c.what;
        EXPECT_EQ(w.selectedPort, c.selectedPort) << c.what;
        EXPECT_EQ(w.Com->isVisible(), c.noPortsItem) << c.what;
        EXPECT_EQ(w.Com->text(), "No COM Ports Available");
        if (c.commPort) {
            EXPECT_EQ(h.serial().CommPort(), c.commPort) << c.what;
        }
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            EXPECT_EQ(w.compItems[n]->isEnabled(), w.compItems[n]->isVisible()) << c.what << " item " << n;
            EXPECT_EQ(w.compItems[n]->text(), QStringLiteral("Com %1").arg(n));
        }
    }
}

TEST(PortMenu, RefreshProbesPortsOneToSixteenEveryFiveSeconds) {
    WindowHarness h;
    h.platform.presentPorts = {2};
    h.start();
    const std::vector<int> oneRefresh{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(h.platform.probes, oneRefresh);

    h.clock().advanceTo(4999);
    EXPECT_EQ(h.platform.probes.size(), 16u);
    h.clock().advanceTo(5000);
    EXPECT_EQ(h.platform.probes.size(), 32u);
    h.clock().advanceTo(15000);
    EXPECT_EQ(h.platform.probes.size(), 64u);
    for (int port : h.platform.probes) {
        EXPECT_GE(port, 1);
        EXPECT_LE(port, 16);
    }
}

TEST(PortMenu, ChosenPortVanishesAndComesBackAcrossRefreshes) {
    WindowHarness h;
    h.platform.presentPorts = {1, 3};
    Form1& w = h.start();
    w.compItems[3]->trigger();
    EXPECT_EQ(w.selectedPort, 1);

    h.platform.presentPorts = {1};
    h.clock().advanceTo(5000);
    EXPECT_FALSE(w.compItems[3]->isVisible());
    EXPECT_FALSE(w.compItems[3]->isEnabled());
    EXPECT_TRUE(w.compItems[3]->isChecked()) << "the check mark stays while the port is away";
    EXPECT_EQ(w.selectedPort, 0);

    h.platform.presentPorts = {};
    h.clock().advanceTo(10000);
    EXPECT_TRUE(w.Com->isVisible());
    EXPECT_EQ(w.selectedPort, 0);

    h.platform.presentPorts = {1, 3};
    h.clock().advanceTo(15000);
    EXPECT_TRUE(w.compItems[3]->isVisible());
    EXPECT_TRUE(w.compItems[3]->isChecked());
    EXPECT_FALSE(w.Com->isVisible());
    EXPECT_EQ(w.selectedPort, 1);
    EXPECT_EQ(h.serial().CommPort(), 3);
}

QString refusal(const QString& path) {
    return path + QStringLiteral(
                      " exists but cannot be opened: permission denied. Add your user to the dialout group "
                      "(sudo adduser $USER dialout) and log in again.");
}
QString inUse(const QString& path) {
    return path + QStringLiteral(" is in use by another program");
}
// The same in the tool tip, one sentence a line.
QString refusalTip(const QString& path) {
    return path + QStringLiteral(
                      " exists but cannot be opened: permission denied.\nAdd your user to the dialout group "
                      "(sudo adduser $USER dialout) and log in again.");
}

TEST(PortMenu, ARefusedDeviceIsNotOfferedAndTheUserIsToldWhyOnce) {
    struct Case {
        const char* what;
        std::set<int> present;
        std::map<int, QString> problems;
        QByteArray file;
        std::vector<int> visible;
        std::vector<int> checked;
        bool noPortsItem;
        QStringList toolTip;  // the lines of the tool tip of "No COM Ports Available"
        QStringList notices;
    };
    const QString usb0 = QStringLiteral("/dev/ttyUSB0");
    const QString acm0 = QStringLiteral("/dev/ttyACM0");
    const Case cases[] = {
        {"the only adapter is refused",
         {1},
         {{1, refusal(usb0)}},
         {},
         {},
         {},
         true,
         {refusalTip(usb0)},
         {"kestrovar-link: " + refusal(usb0)}},
        {"no device at all", {}, {}, bytesOf({2, 0, 1, 0}), {}, {}, true, {}, {}},
        {"the only adapter is held by another program",
         {1},
         {{1, inUse(usb0)}},
         bytesOf({2, 0, 1, 0}),
         {},
         {},
         true,
         {inUse(usb0)},
         {"kestrovar-link: " + inUse(usb0)}},
        {"the remembered port is refused, another works",
         {2},
         {{9, refusal(acm0)}},
         bytesOf({2, 0, 9, 0}),
         {2},
         {},
         false,
         {refusalTip(acm0)},
         {"kestrovar-link: " + refusal(acm0)}},
        {"two refused devices",
         {},
         {{1, refusal(usb0)}, {9, refusal(acm0)}},
         {},
         {},
         {},
         true,
         {refusalTip(usb0), refusalTip(acm0)},
         {"kestrovar-link: " + refusal(usb0), "kestrovar-link: " + refusal(acm0)}},
        {"working ports only", {1, 9}, {}, bytesOf({2, 0, 9, 0}), {1, 9}, {9}, false, {}, {}},
    };
    for (const Case& c : cases) {
        WindowHarness h;
        h.platform.presentPorts = c.present;
        h.platform.portProblems = c.problems;
        h.platform.portNames = {{1, usb0}, {9, acm0}};
        h.iniFile() = c.file;
        Form1& w = h.start();
        h.clock().advanceTo(15000);  // three more refreshes

        EXPECT_EQ(visiblePorts(w), c.visible) << c.what;
        EXPECT_EQ(checkedPorts(w), c.checked) << c.what;
        EXPECT_EQ(w.selectedPort, c.checked.empty() ? 0 : 1) << c.what;
        EXPECT_EQ(w.Com->isVisible(), c.noPortsItem) << c.what;
        EXPECT_EQ(w.Com->text(), "No COM Ports Available") << c.what;
        if (c.noPortsItem) {
            EXPECT_EQ(toolTipShown(w.comp, w.Com), c.toolTip.join(u'\n')) << c.what;
        }
        QStringList printed;
        for (const auto& notice : h.platform.notices) {
            printed << notice.text;
            EXPECT_EQ(notice.time, 0) << c.what << ": told at start-up, not again at a refresh";
        }
        EXPECT_EQ(printed, c.notices) << c.what;
        EXPECT_EQ(h.platform.probes.size(), 4u * 16u)
            << c.what << ": one probe per port and refresh, no more";
        for (int port : h.platform.problemQueries) {
            EXPECT_FALSE(c.present.count(port) && !c.problems.count(port))
                << c.what << ": a working port " << port << " is never asked about";
        }
    }
}

TEST(PortMenu, ARefusedPortThatIsLetInAppearsAndTheExplanationGoes) {
    WindowHarness h;
    h.platform.presentPorts = {3};
    h.platform.portProblems = {{3, refusal("/dev/ttyUSB2")}};
    h.platform.portNames = {{3, QStringLiteral("/dev/ttyUSB2")}};
    h.iniFile() = bytesOf({2, 0, 3, 0});
    Form1& w = h.start();
    EXPECT_TRUE(visiblePorts(w).empty());
    EXPECT_EQ(w.selectedPort, 0);
    EXPECT_EQ(toolTipShown(w.comp, w.Com), refusalTip("/dev/ttyUSB2"));
    ASSERT_EQ(h.platform.notices.size(), 1u);

    // The user joins the group and starts over in the same session: the next refresh finds the port.
    h.platform.portProblems.clear();
    h.clock().advanceTo(5000);
    EXPECT_EQ(visiblePorts(w), std::vector<int>{3});
    EXPECT_EQ(checkedPorts(w), std::vector<int>{3});
    EXPECT_EQ(w.selectedPort, 1);
    EXPECT_FALSE(w.Com->isVisible());
    w.Com->setVisible(true);  // only to look at its tool tip
    EXPECT_EQ(toolTipShown(w.comp, w.Com), "");
    w.Com->setVisible(false);

    // Refused again later: gone from the menu, explained in the tool tip, but not printed twice.
    h.platform.portProblems = {{3, refusal("/dev/ttyUSB2")}};
    h.clock().advanceTo(10000);
    EXPECT_TRUE(visiblePorts(w).empty());
    EXPECT_EQ(w.selectedPort, 0);
    EXPECT_EQ(toolTipShown(w.comp, w.Com), refusalTip("/dev/ttyUSB2"));
    EXPECT_EQ(h.platform.notices.size(), 1u);

    // Pulled out: nothing left to explain.
    h.platform.portProblems.clear();
    h.platform.presentPorts.clear();
    h.clock().advanceTo(15000);
    EXPECT_TRUE(w.Com->isVisible());
    EXPECT_EQ(toolTipShown(w.comp, w.Com), "");
    EXPECT_EQ(h.platform.notices.size(), 1u);
}

TEST(PortMenu, RememberedPortPluggedInLaterIsChosenWithoutTheUser) {
    WindowHarness h;
    h.iniFile() = bytesOf({2, 0, 4, 0});
    Form1& w = h.start();
    EXPECT_EQ(w.selectedPort, 0);
    h.platform.presentPorts = {4};
    h.clock().advanceTo(5000);
    EXPECT_EQ(w.selectedPort, 1);
    EXPECT_EQ(checkedPorts(w), std::vector<int>{4});
}

TEST(PortMenu, ChoosingAPortChecksOnlyItAndClosesAnOpenPort) {
    WindowHarness h;
    h.platform.presentPorts = {1, 2, 3};
    h.iniFile() = bytesOf({2, 0, 3, 0});
    Form1& w = h.start();

    ASSERT_TRUE(h.serial().setPortOpen(true));
    w.compItems[1]->trigger();
    EXPECT_FALSE(h.serial().PortOpen());
    EXPECT_EQ(h.serial().CommPort(), 1);
    EXPECT_EQ(checkedPorts(w), std::vector<int>{1});
    EXPECT_EQ(w.savedPort, TaggedValue::port(1));
    EXPECT_TRUE(h.iniFile() == bytesOf({2, 0, 3, 0})) << "the choice reaches the file only at shut-down";

    // The already checked item again: it stays checked.
    w.compItems[1]->trigger();
    EXPECT_EQ(checkedPorts(w), std::vector<int>{1});
    EXPECT_EQ(w.selectedPort, 1);

    // "No COM Ports Available" does nothing.
    w.Com->trigger();
    EXPECT_EQ(checkedPorts(w), std::vector<int>{1});
    EXPECT_FALSE(w.Com->isChecked());
}

TEST(ShutDown, TheChoiceSurvivesARestartByteForByte) {
    WindowHarness h;
    h.platform.presentPorts = {1, 3};
    {
        Form1& w = h.start();
        w.compItems[1]->trigger();
        w.close();
    }
    EXPECT_EQ(h.iniFile(), bytesOf({2, 0, 1, 0}));
    Form1& again = h.start();
    EXPECT_EQ(checkedPorts(again), std::vector<int>{1});
    EXPECT_EQ(again.selectedPort, 1);
    again.close();
    EXPECT_EQ(h.iniFile(), bytesOf({2, 0, 1, 0}));
}

TEST(ShutDown, EachPathClosesThePortAndWritesTheFileOnce) {
    enum class Path { CloseBox, Exit };
    struct Case {
        const char* what;
        Path path;
        QByteArray before;
        QByteArray after;
    };
    const Case cases[] = {
        {"close box, nothing chosen", Path::CloseBox, {}, bytesOf({0, 0})},
        {"File > Exit, nothing chosen", Path::Exit, {}, bytesOf({0, 0})},
        {"close box keeps extra bytes", Path::CloseBox, bytesOf({2, 0, 3, 0, 9, 9}),
         bytesOf({2, 0, 3, 0, 9, 9})},
        {"exit keeps extra bytes", Path::Exit, bytesOf({0, 0, 7, 7, 7}), bytesOf({0, 0, 7, 7, 7})},
    };
    QStandardPaths::setTestModeEnabled(true);
    for (const Case& c : cases) {
        WindowHarness h;
        h.platform.presentPorts = {3};
        h.iniFile() = c.before;
        Form1& w = h.start();
        h.serial().setCommPort(3);
        ASSERT_TRUE(h.serial().setPortOpen(true));
        w.Timer1->setEnabled(true);  // as while connected
        w.Timer4->setEnabled(true);
        h.serial().clearLog();
        w.About_Click();
        QPointer<AboutDialog> about = w.frmAbout;
        ASSERT_TRUE(about && about->isVisible());
        w.trendTools->TrendChart->trigger();
        QFile::remove(chartSettingsPath());

        if (c.path == Path::CloseBox) {
            w.close();
            EXPECT_FALSE(about && about->isVisible()) << c.what << ": the About dialog goes with the window";
        } else {
            w.Exit->trigger();
            EXPECT_TRUE(h.platform.ended) << c.what;
            w.close();  // the process would be gone; nothing more may be written
        }
        for (IntervalTimer* timer : {w.Timer1, w.Timer2.get(), w.Timer3.get(), w.Timer4})
            EXPECT_FALSE(timer->Enabled()) << c.what;
        h.clock().advanceBy(5000);  // no poll, watchdog or menu refresh runs for a window that is gone
        EXPECT_TRUE(h.platform.messages.empty()) << c.what;
        EXPECT_FALSE(h.serial().PortOpen()) << c.what;
        EXPECT_TRUE(h.serial().written().isEmpty()) << c.what << ": nothing is sent to the device";
        EXPECT_EQ(h.platform.binaryWrites, 1) << c.what;
        EXPECT_EQ(h.iniFile(), c.after) << c.what;
        EXPECT_TRUE(QSettings(chartSettingsPath(), QSettings::IniFormat).contains("geometry"))
            << c.what << ": the chart's size and place are kept";
    }
}

TEST(ShutDown, AnUnusablePortFileNeitherBlocksStartNorShutDown) {
    for (bool exitByMenu : {false, true}) {
        WindowHarness h;
        h.platform.presentPorts = {3};
        h.platform.unreadable.insert(kIni);
        h.platform.unwritable.insert(kIni);
        Form1& w = h.start();
        EXPECT_EQ(w.selectedPort, 0);
        EXPECT_TRUE(w.savedPort.isEmpty());
        w.compItems[3]->trigger();
        ASSERT_TRUE(h.serial().setPortOpen(true));
        if (exitByMenu) {
            w.Exit_Click();
            EXPECT_TRUE(h.platform.ended);
        } else {
            EXPECT_TRUE(w.close());
        }
        EXPECT_FALSE(h.serial().PortOpen());
    }
}

TEST(About, OneModelessDialogWithTitleVersionAndTexts) {
    WindowHarness h;
    Form1& w = h.start();
    w.show();
    w.About->trigger();
    QPointer<AboutDialog> about = w.frmAbout;
    ASSERT_TRUE(about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->windowTitle(), "About KestroVar Link");
    EXPECT_EQ(about->lblTitle->text(), "KestroVar Link");
    EXPECT_EQ(about->lblVersion->text(), "Version 1.0.0");
    EXPECT_EQ(
        about->lblDescription->text(),
        "Kestrovar Link software is used to recalibrate and monitor the Kestrovar dewpoint compensator.");
    EXPECT_EQ(
        about->lblDisclaimer->text(),
        "Warning: User accepts all risk for the use of the Kestrovar and all conguration changes made.");
    EXPECT_FALSE(about->Label1->text().isEmpty());
    EXPECT_EQ(about->size(), QSize(382, 180));
    EXPECT_EQ(about->geometry().topLeft(), QPoint(156, 129));
    EXPECT_EQ(about->cmdOK->text(), "OK");
    EXPECT_TRUE(about->cmdOK->isDefault());

    // Choosing About again brings the same dialog forward.
    w.About->trigger();
    EXPECT_EQ(w.frmAbout, about);

    // The main window keeps working while it is open: its timers run.
    const auto probes = h.platform.probes.size();
    h.clock().advanceBy(5000);
    EXPECT_EQ(h.platform.probes.size(), probes + 16);

    about->cmdOK->click();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(about) << "OK unloads the dialog";

    // Showing it again loads it afresh.
    w.About->trigger();
    ASSERT_TRUE(w.frmAbout);
    EXPECT_EQ(w.frmAbout->lblVersion->text(), "Version 1.0.0");
    w.frmAbout->reject();  // Esc
    EXPECT_FALSE(w.frmAbout->isVisible());
}

}  // namespace
}  // namespace kv::test
