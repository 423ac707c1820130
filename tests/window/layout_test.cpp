// The main window as a user sees it: every control where it belongs, with its caption and font.
#include "support/window_harness.h"

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <map>

namespace kv::test {
namespace {

struct Expected {
    const char* name;
    QRect pixels;  // in the client area
    QString caption;
    double points;
    bool visible;
    bool readOnly;
};

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* t = qobject_cast<QLineEdit*>(w))
        return t->text();
    return {};
}

TEST(Layout, EveryControlHasItsPlaceCaptionAndFont) {
    WindowHarness h;
    Form1& w = h.start();
    w.show();
    ASSERT_EQ(w.centralWidget()->size(), QSize(830, 551));

    std::vector<Expected> table = {
        {"Label11", {80, 0, 201, 33}, "MONITORING", 20.25, true, false},
        {"Label1", {24, 48, 225, 25}, "MCT Sensor Input Voltage:", 12, true, false},
        {"Text1", {240, 40, 80, 30}, "", 14.25, true, true},
        {"Label4", {24, 96, 225, 25}, "MCT Output Voltage:", 12, true, false},
        {"Text4", {240, 88, 80, 30}, "", 14.25, true, true},
        {"Label3", {24, 144, 225, 25}, "Dew point:", 12, true, false},
        {"Text3", {240, 136, 80, 30}, "", 14.25, true, true},
        {"Label2", {24, 192, 225, 25}, "MCT Sensor Input Temp:", 12, true, false},
        {"Text2", {240, 184, 80, 30}, "", 14.25, true, true},
        {"Label5", {24, 240, 225, 25}, "MCT Modified Temp:", 12, true, false},
        {"Text5", {240, 232, 80, 30}, "", 14.25, true, true},
        {"Label7", {24, 288, 225, 25}, "MCT Output Temp:", 12, true, false},
        {"Text6", {240, 280, 80, 30}, "", 14.25, true, true},
        {"Label12", {24, 336, 225, 25}, "Humidity Correction Active:", 12, true, false},
        {"Text9", {240, 328, 80, 30}, "", 14.25, true, true},
        {"Command1", {16, 368, 305, 49}, "Connect to KestroVar", 14.25, true, false},
        {"Command11", {16, 424, 305, 49}, "Pause Humidity Correction", 14.25, false, false},
        {"Image2", {16, 480, 97, 64}, "", -1, true, false},
        {"Label6", {120, 488, 209, 49}, "", 15.75, false, false},
        {"Label8", {400, 0, 353, 33}, "SETTINGS", 20.25, true, false},
        {"Image1", {352, 40, 466, 328}, "", -1, true, false},
        {"Label15", {344, 376, 153, 41}, "Increase / Decrease Table By 10°F:", 12, true, false},
        {"Command13", {496, 376, 49, 25}, "+", 21.75, true, false},
        {"Command12", {496, 400, 49, 25}, "-", 21.75, true, false},
        {"Label9", {584, 376, 97, 41}, "Startup Time Delay (min):", 12, true, false},
        {"Text7", {688, 384, 65, 27}, "", 14.25, true, true},
        {"Command7", {760, 376, 49, 25}, "+", 21.75, true, false},
        {"Command8", {760, 400, 49, 25}, "-", 21.75, true, false},
        {"Label10", {344, 432, 97, 57}, "Humidity Correction Active:", 12, true, false},
        {"Text8", {360, 488, 65, 26}, "", 14.25, true, true},
        {"Command6", {352, 520, 81, 25}, "Toggle", 12, true, false},
        {"Command2", {464, 440, 177, 49}, "Load Settings from KestroVar", 12, true, false},
        {"Command5", {648, 440, 177, 49}, "Save Settings to KestroVar", 12, true, false},
        {"Command10", {464, 496, 177, 49}, "Load Settings from File", 12, true, false},
        {"Command9", {648, 496, 177, 49}, "Save Settings to File", 12, true, false},
    };
    const char* colTexts[] = {"10", "20", "70", "120", "170"};
    const char* rowTexts[] = {"100", "75", "65", "50", "25", "0"};
    static std::vector<QByteArray> names;
    names.clear();
    names.reserve(41);
    for (int i = 0; i < 5; ++i) {
        names.push_back(QStringLiteral("Col(%1)").arg(i).toLatin1());
        table.push_back(
            {names.back().constData(), {456 + 72 * i, 72, 57, 30}, colTexts[i], 14.25, true, false});
    }
    for (int j = 0; j < 6; ++j) {
        names.push_back(QStringLiteral("Row(%1)").arg(j).toLatin1());
        table.push_back(
            {names.back().constData(), {384, 120 + 40 * j, 57, 30}, rowTexts[j], 14.25, true, false});
    }
    for (int j = 0; j < 6; ++j) {
        for (int i = 0; i < 5; ++i) {
            names.push_back(QStringLiteral("Matrix(%1)").arg(5 * j + i).toLatin1());
            table.push_back(
                {names.back().constData(), {456 + 72 * i, 120 + 40 * j, 57, 30}, "", 14.25, true, false});
        }
    }

    for (const Expected& e : table) {
        auto* widget = w.centralWidget()->findChild<QWidget*>(QLatin1String(e.name));
        ASSERT_NE(widget, nullptr) << e.name;
        EXPECT_EQ(widget->geometry(), e.pixels) << e.name;
        EXPECT_EQ(captionOf(widget), e.caption) << e.name;
        EXPECT_EQ(widget->isVisible(), e.visible) << e.name;
        if (e.points > 0) {
            EXPECT_DOUBLE_EQ(widget->font().pointSizeF(), e.points) << e.name;
            EXPECT_TRUE(widget->font().bold()) << e.name;
            EXPECT_EQ(widget->font().family(), "Arial") << e.name;
        }
        if (auto* box = qobject_cast<QLineEdit*>(widget)) {
            EXPECT_EQ(box->isReadOnly(), e.readOnly) << e.name;
            EXPECT_EQ(box->alignment(), Qt::AlignCenter) << e.name;
        }
    }
    EXPECT_TRUE(w.Label11->font().underline());
    EXPECT_TRUE(w.Label8->font().underline());
    EXPECT_EQ(
        w.Text8->toolTip(),
        "When \"Humidity Correction Active\" is set to \"No\" the MCT output temperature will always match "
        "the MCT input temperature.");

    // Axis boxes are grey, the table cells have the window background.
    for (auto* box : w.Col)
        EXPECT_EQ(Form1::backColor(box), QColor(224, 224, 224));
    for (auto* box : w.Row)
        EXPECT_EQ(Form1::backColor(box), QColor(224, 224, 224));
    for (auto* box : w.Matrix)
        EXPECT_EQ(Form1::backColor(box), w.windowBackground());

    // No button reacts to Enter or Esc by itself.
    for (auto* button : w.centralWidget()->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
}

TEST(Layout, WindowFrameIsFixedWithTitleAndIcon) {
    WindowHarness h;
    Form1& w = h.start();
    w.show();
    EXPECT_EQ(w.windowTitle(), "KestroVar Link");
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(w.minimumSize(), w.maximumSize()) << "the user cannot resize the window";
}

TEST(Layout, TabOrderFollowsTheFormOrder) {
    WindowHarness h;
    Form1& w = h.start();
    std::vector<QWidget*> expected{w.Command1, w.Text1,    w.Text2,  w.Text3, w.Text4,
                                   w.Text5,    w.Command2, w.Col[0], w.Row[0]};
    expected.insert(expected.end(), w.Matrix.begin(), w.Matrix.end());
    expected.insert(expected.end(), w.Col.begin() + 1, w.Col.end());
    expected.insert(expected.end(), w.Row.begin() + 1, w.Row.end());
    expected.insert(expected.end(),
                    {w.Text6, w.Text7, w.Text8, w.Command6, w.Command7, w.Command8, w.Command5, w.Command9,
                     w.Command10, w.Command11, w.Text9, w.Command12, w.Command13});

    std::vector<QWidget*> chain;
    QWidget* current = w.Command1;
    do {
        if (current->focusPolicy() & Qt::TabFocus) {
            chain.push_back(current);
        }
        current = current->nextInFocusChain();
    } while (current != w.Command1 && chain.size() < 200);
    ASSERT_GE(chain.size(), expected.size());
    chain.resize(expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(chain[i]->objectName(), expected[i]->objectName()) << "position " << i;
    }
}

TEST(Layout, MenusHaveTheirItemsWithoutShortcuts) {
    WindowHarness h;
    Form1& w = h.start();
    const QList<QAction*> top = w.menuBar()->actions();
    ASSERT_EQ(top.size(), 4);
    EXPECT_EQ(top[0]->text(), "File");
    EXPECT_EQ(top[1]->text(), "Com Port");
    EXPECT_EQ(top[2]->text(), "Tools");
    EXPECT_EQ(top[3]->text(), "Help");
    EXPECT_EQ(w.File->actions().size(), 1);
    EXPECT_EQ(w.Exit->text(), "Exit");
    EXPECT_EQ(w.Help->actions().size(), 1);
    EXPECT_EQ(w.About->text(), "About");
    ASSERT_EQ(w.comp->actions().size(), 17);
    EXPECT_EQ(w.comp->actions()[0], w.Com);
    for (QAction* a : w.comp->actions()) {
        EXPECT_TRUE(a->shortcut().isEmpty());
        EXPECT_FALSE(a->text().contains('&'));
    }
}

TEST(Layout, PortItemsTellTheAdaptersApart) {
    WindowHarness h;
    h.platform.portNames = {{2, "/dev/ttyUSB1"}, {3, "/dev/ttyUSB2"}};
    h.platform.presentPorts = {1, 3, 4};
    const QString stable = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X3K2-if00-port0";
    h.platform.adapters[3] = {{}, stable, "FT232R USB UART", "FTDI", "A9X3K2"};
    h.platform.adapters[4] = {{}, {}, "USB Serial Port", {}, {}};
    Form1& w = h.start();
    const std::pair<int, QString> tips[] = {
        {1, "Com 1"},         // COM1 and nothing more known: no tip of its own
        {2, "/dev/ttyUSB1"},  // not plugged in: the path it stands for
        {3, "/dev/ttyUSB2\n" + stable + "\nFT232R USB UART\nMaker: FTDI\nSerial number: A9X3K2"},
        {4, "COM4\nUSB Serial Port"},
    };
    for (const auto& [port, tip] : tips) {
        EXPECT_EQ(w.compItems[port]->text(), QStringLiteral("Com %1").arg(port));
        EXPECT_EQ(w.compItems[port]->toolTip(), tip) << port;
    }
    // Another adapter in the same socket: the next refresh says so.
    h.platform.adapters[3] = {{}, {}, "CP2102 USB to UART Bridge Controller", "Silicon Labs", "0001"};
    h.clock().advanceTo(5000);
    EXPECT_EQ(w.compItems[3]->toolTip(),
              "/dev/ttyUSB2\nCP2102 USB to UART Bridge Controller\nMaker: Silicon Labs\nSerial number: 0001");
}

TEST(Layout, AScreenReaderNamesEveryBoxAndButton) {
    WindowHarness h;
    Form1& w = h.start();
    const std::pair<QWidget*, QString> named[] = {
        {w.Text1, "MCT Sensor Input Voltage"},
        {w.Text4, "MCT Output Voltage"},
        {w.Text3, "Dew point"},
        {w.Text2, "MCT Sensor Input Temp"},
        {w.Text5, "MCT Modified Temp"},
        {w.Text6, "MCT Output Temp"},
        {w.Text9, "Humidity Correction Active"},
        {w.Text7, "Startup Time Delay (min)"},
        {w.Text8, "Humidity correction switch"},
        {w.Col[0], "MCT °F axis value 1"},
        {w.Col[2], "MCT °F axis value 3"},
        {w.Row[1], "Dew point °F axis value 2"},
        {w.Row[5], "Dew point °F axis value 6"},
        {w.Matrix[8], "Table row 2, column 4"},
        {w.Matrix[29], "Table row 6, column 5"},
        {w.Command1, "Connect to KestroVar"},
        {w.Command2, "Load Settings from KestroVar"},
        {w.Command13, "Increase Table By 10°F"},
        {w.Command12, "Decrease Table By 10°F"},
        {w.Command7, "Increase Startup Time Delay"},
        {w.Command8, "Decrease Startup Time Delay"},
        {w.Command6, "Toggle Humidity Correction Active"},
    };
    auto spoken = [](QWidget* widget) {
        QAccessibleInterface* item = QAccessible::queryAccessibleInterface(widget);
        return item ? item->text(QAccessible::Name) : QString();
    };
    for (const auto& [widget, name] : named) {
        EXPECT_EQ(spoken(widget), name) << widget->objectName().toStdString();
    }
    // No box or button is left nameless, and none is named twice.
    std::map<QString, int> uses;
    for (QWidget* widget : w.centralWidget()->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QPushButton*>(widget)) {
            const QString name = spoken(widget);
            EXPECT_FALSE(name.isEmpty()) << widget->objectName().toStdString();
            ++uses[name];
        }
    }
    for (const auto& [name, count] : uses) {
        EXPECT_EQ(count, 1) << name.toStdString();
    }
    // A caption that changes is read as it stands.
    w.Command1->setText("Disconnect");
    EXPECT_EQ(spoken(w.Command1), "Disconnect");
}

TEST(Layout, LockedBoxesTakeFocusButRejectTyping) {
    WindowHarness h;
    Form1& w = h.start();
    for (QLineEdit* box : {w.Text1, w.Text2, w.Text3, w.Text4, w.Text5, w.Text6, w.Text7, w.Text8, w.Text9}) {
        EXPECT_TRUE(box->isReadOnly());
        EXPECT_TRUE(box->focusPolicy() & Qt::ClickFocus);
        EXPECT_TRUE(box->focusPolicy() & Qt::TabFocus);
    }
}

}  // namespace
}  // namespace kv::test
