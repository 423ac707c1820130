#include "gui/main_window.h"

#include "gui/about_dialog.h"
#include "gui/artwork.h"
#include "gui/certificate_window.h"
#include "gui/correction_map_window.h"
#include "gui/mqtt_tool.h"
#include "gui/serial_link.h"
#include "gui/trend_tools.h"
#include "protocol/device_protocol.h"

#include <utility>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace kv {

namespace {

constexpr int kTwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height) {
    return {left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel};
}

QFont arialBold(double points, bool underline = false) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPointSizeF(points);
    font.setUnderline(underline);
    return font;
}

constexpr double kBoxPoints = 14.25;

}  // namespace

void TextBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // Only focus moving to another control of the window counts. Opening a menu, a message box
    // popping up or the user switching to another program leaves the edit where it was.
    const bool windowLeft =
        event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
    if (onLostFocus && !windowLeft) {
        onLostFocus();
    }
}

void WrappingButton::paintEvent(QPaintEvent* event) {
    if (fontMetrics().horizontalAdvance(text()) <= width() - 8) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(rect().adjusted(4, 2, -4, -2), int(Qt::AlignCenter | Qt::TextWordWrap), text());
}

QColor colorFromBgr(std::uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QColor Form1::backColor(const QLineEdit* box) {
    return box->palette().color(QPalette::Base);
}

void Form1::setBackColor(QLineEdit* box, const QColor& color) {
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, color);
    box->setPalette(palette);
}

QColor Form1::windowBackground() const {
    return QApplication::palette("QLineEdit").color(QPalette::Base);
}

Form1::Form1(Platform& platform, QWidget* parent) : QMainWindow(parent), platform_(platform) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KestroVar Link"));
    setWindowIcon(applicationIcon());
    // Fixed single border: minimise, system menu and close box, but no maximise and no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    // The session first: the Tools menu's readings history subscribes to its feed from the start.
    session = std::make_unique<DeviceSession>(platform_);
    frameFeed = &session->feed();
    buildControls();
    buildMenus();
    setTabOrder();

    Timer1 = &session->poll();
    Timer1->setInterval(kPollIntervalMs);
    Timer2 = platform_.createTimer();
    Timer2->setInterval(kSettleWaitMs);
    Timer3 = platform_.createTimer();
    Timer3->setInterval(kPortMenuRefreshMs);
    Timer4 = &session->watchdog();
    Timer4->setInterval(kWatchdogMs);
    MSComm1 = &session->serial();

    connectHandlers();
    buildCertificateMenu(*this);
    buildHistoryMenu();  // after every other Tools item
    mqttTool = new MqttTool(*this);
    Form_Load();
    Timer3->setEnabled(true);
}

Form1::~Form1() {
    // Child boxes lose the focus while the window is torn down; no handler may run on a half-gone form.
    for (TextBox* box : findChildren<TextBox*>()) {
        box->onLostFocus = nullptr;
    }
    // The publisher ends while the window it reads from is still whole, not as a child of its QWidget.
    delete std::exchange(mqttTool, nullptr);
}

void Form1::buildControls() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(12450 / kTwipsPerPixel, 8265 / kTwipsPerPixel);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The table's panel goes first so that everything created later lies above it.
    Image1 = new CalibrationPanel(client);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(QRect(twips(5280, 600, 0, 0).topLeft(), QSize(466, 328)));

    auto label = [client](const char* name, const QString& text, QRect geometry, const QFont& font,
                          Qt::Alignment alignment) {
        auto* l = new QLabel(text, client);
        l->setObjectName(QLatin1String(name));
        l->setGeometry(geometry);
        l->setFont(font);
        l->setAlignment(alignment);
        l->setWordWrap(true);
        return l;
    };
    auto textBox = [client](const char* name, QRect geometry, bool locked) {
        auto* t = new TextBox(client);
        t->setObjectName(QLatin1String(name));
        t->setGeometry(geometry);
        t->setFont(arialBold(kBoxPoints));
        t->setAlignment(Qt::AlignCenter);
        t->setReadOnly(locked);
        return t;
    };
    auto button = [client](const char* name, const QString& caption, QRect geometry, double points) {
        auto* b = new WrappingButton(caption, client);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(geometry);
        b->setFont(arialBold(points));
        b->setAutoDefault(false);
        b->setDefault(false);
        return b;
    };
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignTop;
    const Qt::Alignment centred = Qt::AlignHCenter | Qt::AlignTop;

    // Left column: MONITORING.
    Label11 = label("Label11", QStringLiteral("MONITORING"), twips(1200, 0, 3015, 495),
                    arialBold(20.25, true), centred);
    Label1 = label("Label1", QStringLiteral("MCT Sensor Input Voltage:"), twips(360, 720, 3375, 375),
                   arialBold(12), left);
    Text1 = textBox("Text1", twips(3600, 600, 1200, 450), true);
    Label4 = label("Label4", QStringLiteral("MCT Output Voltage:"), twips(360, 1440, 3375, 375),
                   arialBold(12), left);
    Text4 = textBox("Text4", twips(3600, 1320, 1200, 450), true);
    Label3 = label("Label3", QStringLiteral("Dew point:"), twips(360, 2160, 3375, 375), arialBold(12), left);
    Text3 = textBox("Text3", twips(3600, 2040, 1200, 450), true);
    Label2 = label("Label2", QStringLiteral("MCT Sensor Input Temp:"), twips(360, 2880, 3375, 375),
                   arialBold(12), left);
    Text2 = textBox("Text2", twips(3600, 2760, 1200, 450), true);
    Label5 = label("Label5", QStringLiteral("MCT Modified Temp:"), twips(360, 3600, 3375, 375), arialBold(12),
                   left);
    Text5 = textBox("Text5", twips(3600, 3480, 1200, 450), true);
    Label7 =
        label("Label7", QStringLiteral("MCT Output Temp:"), twips(360, 4320, 3375, 375), arialBold(12), left);
    Text6 = textBox("Text6", twips(3600, 4200, 1200, 450), true);
    Label12 = label("Label12", QStringLiteral("Humidity Correction Active:"), twips(360, 5040, 3375, 375),
                    arialBold(12), left);
    Text9 = textBox("Text9", twips(3600, 4920, 1200, 450), true);
    Command1 = button("Command1", QStringLiteral("Connect to KestroVar"), twips(240, 5520, 4575, 735), 14.25);
    Command11 =
        button("Command11", QStringLiteral("Pause Humidity Correction"), twips(240, 6360, 4575, 735), 14.25);
    Command11->setVisible(false);
    Image2 = new QLabel(client);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(twips(240, 7200, 1455, 960));
    Image2->setPixmap(productLogo(Image2->size(), devicePixelRatioF()));
    Image2->setScaledContents(true);
    Label6 = label("Label6", QString(), twips(1800, 7320, 3135, 735), arialBold(15.75), Qt::AlignCenter);
    Label6->setAutoFillBackground(true);
    {
        QPalette palette = Label6->palette();
        palette.setColor(QPalette::Window, colorFromBgr(0x404040));
        palette.setColor(QPalette::WindowText, Qt::white);
        Label6->setPalette(palette);
    }
    Label6->setVisible(false);

    // Right column: SETTINGS.
    Label8 = label("Label8", QStringLiteral("SETTINGS"), twips(6000, 0, 5295, 495), arialBold(20.25, true),
                   centred);
    static const char* const colDefaults[] = {"10", "20", "70", "120", "170"};
    static const char* const rowDefaults[] = {"100", "75", "65", "50", "25", "0"};
    for (int i = 0; i < 5; ++i) {
        Col[i] = textBox("Col", twips(6840 + 1080 * i, 1080, 855, 450), false);
        Col[i]->setObjectName(QStringLiteral("Col(%1)").arg(i));
        Col[i]->setText(QLatin1String(colDefaults[i]));
        setBackColor(Col[i], colorFromBgr(kAxisNormal));
    }
    for (int j = 0; j < 6; ++j) {
        Row[j] = textBox("Row", twips(5760, 1800 + 600 * j, 855, 450), false);
        Row[j]->setObjectName(QStringLiteral("Row(%1)").arg(j));
        Row[j]->setText(QLatin1String(rowDefaults[j]));
        setBackColor(Row[j], colorFromBgr(kAxisNormal));
    }
    for (int j = 0; j < 6; ++j) {
        for (int i = 0; i < 5; ++i) {
            const int k = 5 * j + i;
            Matrix[k] = textBox("Matrix", twips(6840 + 1080 * i, 1800 + 600 * j, 855, 450), false);
            Matrix[k]->setObjectName(QStringLiteral("Matrix(%1)").arg(k));
        }
    }
    auto rule = [client](const char* name, QRect geometry, const QColor& color) {
        auto* line = new QWidget(client);
        line->setObjectName(QLatin1String(name));
        line->setGeometry(geometry);
        line->setAutoFillBackground(true);
        QPalette palette = line->palette();
        palette.setColor(QPalette::Window, color);
        line->setPalette(palette);
        return line;
    };
    // Lines are 2 pixels wide, centred on their twip coordinates.
    Line1 = rule("Line1",
                 QRect(6720 / kTwipsPerPixel, 1680 / kTwipsPerPixel - 1, (12120 - 6720) / kTwipsPerPixel, 2),
                 Qt::white);
    Line2 = rule("Line2",
                 QRect(6720 / kTwipsPerPixel - 1, 1680 / kTwipsPerPixel, 2, (5280 - 1680) / kTwipsPerPixel),
                 Qt::white);
    Line3 = rule("Line3", QRect(5040 / kTwipsPerPixel - 1, 0, 2, 8040 / kTwipsPerPixel), Qt::black);

    Label15 = label("Label15", QStringLiteral("Increase / Decrease Table By 10°F:"),
                    twips(5160, 5640, 2295, 615), arialBold(12), left);
    Command13 = button("Command13", QStringLiteral("+"), twips(7440, 5640, 735, 375), 21.75);
    Command12 = button("Command12", QStringLiteral("-"), twips(7440, 6000, 735, 375), 21.75);
    Label9 = label("Label9", QStringLiteral("Startup Time Delay (min):"), twips(8760, 5640, 1455, 615),
                   arialBold(12), centred);
    {
        // "Startup Time" is a hair wider than the label; tighten the spacing so the caption keeps
        // to two lines instead of losing its third.
        QFont font = Label9->font();
        font.setLetterSpacing(QFont::PercentageSpacing, 96);
        Label9->setFont(font);
    }
    Text7 = textBox("Text7", twips(10320, 5760, 975, 405), true);
    Command7 = button("Command7", QStringLiteral("+"), twips(11400, 5640, 735, 375), 21.75);
    Command8 = button("Command8", QStringLiteral("-"), twips(11400, 6000, 735, 375), 21.75);
    Label10 = label("Label10", QStringLiteral("Humidity Correction Active:"), twips(5160, 6480, 1455, 855),
                    arialBold(12), centred);
    Text8 = textBox("Text8", twips(5400, 7320, 975, 390), true);
    Text8->setToolTip(
        QStringLiteral("When \"Humidity Correction Active\" is set to \"No\" the MCT output "
                       "temperature will always match the MCT input temperature."));
    Command6 = button("Command6", QStringLiteral("Toggle"), twips(5280, 7800, 1215, 375), 12);
    Command2 =
        button("Command2", QStringLiteral("Load Settings from KestroVar"), twips(6960, 6600, 2655, 735), 12);
    Command5 =
        button("Command5", QStringLiteral("Save Settings to KestroVar"), twips(9720, 6600, 2655, 735), 12);
    Command10 =
        button("Command10", QStringLiteral("Load Settings from File"), twips(6960, 7440, 2655, 735), 12);
    Command9 = button("Command9", QStringLiteral("Save Settings to File"), twips(9720, 7440, 2655, 735), 12);

    // What a screen reader says for each box and button: the label beside it, without its colon.
    // Buttons with a caption are read by it; "+", "-" and "Toggle" say what they change.
    auto labelled = [](QLabel* label, QLineEdit* box) {
        QString name = label->text();
        if (name.endsWith(u':')) {
            name.chop(1);
        }
        label->setBuddy(box);
        box->setAccessibleName(name);
    };
    const std::pair<QLabel*, QLineEdit*> monitoringBoxes[] = {
        {Label1, Text1}, {Label4, Text4}, {Label3, Text3},  {Label2, Text2},
        {Label5, Text5}, {Label7, Text6}, {Label12, Text9},
    };
    for (const auto& [l, box] : monitoringBoxes) {
        labelled(l, box);
        box->setAccessibleDescription(QStringLiteral("Live reading from the KestroVar"));
    }
    labelled(Label9, Text7);
    labelled(Label10, Text8);
    // Its caption is the live reading's too; a screen reader must tell the setting from the reading.
    Text8->setAccessibleName(QStringLiteral("Humidity correction switch"));
    for (int i = 0; i < 5; ++i) {
        Col[i]->setAccessibleName(QStringLiteral("MCT °F axis value %1").arg(i + 1));
    }
    for (int j = 0; j < 6; ++j) {
        Row[j]->setAccessibleName(QStringLiteral("Dew point °F axis value %1").arg(j + 1));
    }
    for (int k = 0; k < 30; ++k) {
        Matrix[k]->setAccessibleName(QStringLiteral("Table row %1, column %2").arg(k / 5 + 1).arg(k % 5 + 1));
    }
    Command13->setAccessibleName(QStringLiteral("Increase Table By 10°F"));
    Command12->setAccessibleName(QStringLiteral("Decrease Table By 10°F"));
    Command7->setAccessibleName(QStringLiteral("Increase Startup Time Delay"));
    Command8->setAccessibleName(QStringLiteral("Decrease Startup Time Delay"));
    Command6->setAccessibleName(QStringLiteral("Toggle Humidity Correction Active"));

    // The big "+" and "-" glyphs are larger than their buttons; let them use the whole face.
    for (QPushButton* b : {Command13, Command12, Command7, Command8}) {
        b->setStyleSheet(QStringLiteral("QPushButton { padding: 0px; }"));
    }
}

void Form1::buildMenus() {
    QMenuBar* bar = menuBar();
    File = bar->addMenu(QStringLiteral("File"));
    File->setObjectName(QStringLiteral("File"));
    Exit = File->addAction(QStringLiteral("Exit"));
    Exit->setObjectName(QStringLiteral("Exit"));

    comp = bar->addMenu(QStringLiteral("Com Port"));
    comp->setObjectName(QStringLiteral("comp"));
    Com = comp->addAction(QStringLiteral("No COM Ports Available"));
    Com->setObjectName(QStringLiteral("Com"));
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        QAction* item = comp->addAction(QStringLiteral("Com %1").arg(n));
        item->setObjectName(QStringLiteral("comp%1").arg(n));
        item->setCheckable(true);
        const QString name = platform_.portSystemName(n);
        if (name != QStringLiteral("COM%1").arg(n)) {
            item->setToolTip(name);
        }
        compItems[n] = item;
    }
    comp->setToolTipsVisible(true);

    // What the program does beyond the main window: the trend chart, recording, the history.
    Tools = bar->addMenu(QStringLiteral("Tools"));
    Tools->setObjectName(QStringLiteral("Tools"));
    trendTools = new TrendTools(*this);
    correctionMap = new CorrectionMapTool(*this);

    Help = bar->addMenu(QStringLiteral("Help"));
    Help->setObjectName(QStringLiteral("Help"));
    About = Help->addAction(QStringLiteral("About"));
    About->setObjectName(QStringLiteral("About"));
}

void Form1::setTabOrder() {
    std::vector<QWidget*> order{Command1, Text1, Text2, Text3, Text4, Text5, Command2, Col[0], Row[0]};
    order.insert(order.end(), Matrix.begin(), Matrix.end());
    order.insert(order.end(), Col.begin() + 1, Col.end());
    order.insert(order.end(), Row.begin() + 1, Row.end());
    order.insert(order.end(), {Text6, Text7, Text8, Command6, Command7, Command8, Command5, Command9,
                               Command10, Command11, Text9, Command12, Command13});
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void Form1::connectHandlers() {
    connect(session.get(), &DeviceSession::pollFailed, this, [this] { linkLost(); });
    connect(session.get(), &DeviceSession::watchdogExpired, this, [this] { Timer4_Timer(); });
    Timer2->onTimer = [this] { Timer2_Timer(); };
    Timer3->onTimer = [this] { Timer3_Timer(); };
    MSComm1->OnComm = [this] { MSComm1_OnComm(); };

    connect(Exit, &QAction::triggered, this, [this] { Exit_Click(); });
    connect(About, &QAction::triggered, this, [this] { About_Click(); });
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        connect(compItems[n], &QAction::triggered, this, [this, n] { comp_Click(n); });
    }
    // "No COM Ports Available" has no handler, but Qt would toggle a check mark; it is not checkable.

    connect(Command1, &QPushButton::clicked, this, [this] {
        if (Command1->text() == disconnectCaption()) {
            setUnitTag({});  // the user ends the unit; the transfers' own toggles keep it
        }
        Command1_Click();
    });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    connect(Command7, &QPushButton::clicked, this, [this] { Command7_Click(); });
    connect(Command8, &QPushButton::clicked, this, [this] { Command8_Click(); });
    connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    connect(Command10, &QPushButton::clicked, this, [this] { Command10_Click(); });
    connect(Command11, &QPushButton::clicked, this, [this] { Command11_Click(); });
    connect(Command12, &QPushButton::clicked, this, [this] { Command12_Click(); });
    connect(Command13, &QPushButton::clicked, this, [this] { Command13_Click(); });

    connect(Text7, &QLineEdit::textChanged, this, [this] { Text7_Change(); });
    connect(Text8, &QLineEdit::textChanged, this, [this] { Text8_Change(); });
    connect(Text9, &QLineEdit::textChanged, this, [this] { Text9_Change(); });

    for (int i = 0; i < int(Col.size()); ++i) {
        connect(Col[i], &QLineEdit::textChanged, this, [this, i] { Col_Change(i); });
        connect(Col[i], &QLineEdit::returnPressed, this, [this, i] { Col_KeyPress(i, 13); });
        Col[i]->onLostFocus = [this, i] { Col_LostFocus(i); };
    }
    for (int i = 0; i < int(Row.size()); ++i) {
        connect(Row[i], &QLineEdit::textChanged, this, [this, i] { Row_Change(i); });
        connect(Row[i], &QLineEdit::returnPressed, this, [this, i] { Row_KeyPress(i, 13); });
        Row[i]->onLostFocus = [this, i] { Row_LostFocus(i); };
    }
    for (int i = 0; i < int(Matrix.size()); ++i) {
        connect(Matrix[i], &QLineEdit::textChanged, this, [this, i] { Matrix_Change(i); });
        connect(Matrix[i], &QLineEdit::returnPressed, this, [this, i] { Matrix_KeyPress(i, 13); });
        Matrix[i]->onLostFocus = [this, i] { Matrix_LostFocus(i); };
    }
}

void Form1::Form_Load() {
    rxMode = 0;
    for (QString& copy : matrixDevice) {
        copy.clear();
    }
    for (int i = 0; i < 5; ++i) {
        colDevice[i].clear();
        colLastGood[i] = Col[i]->text();
    }
    for (int j = 0; j < 6; ++j) {
        rowDevice[j].clear();
        rowLastGood[j] = Row[j]->text();
    }
    activeDevice.clear();
    delayDevice = 255.0f;
    MSComm1->setSettings(QStringLiteral("19200,N,8,1"));
    readSavedPort();
    selectedPort = 0;
    RefreshPortMenu();
}

void Form1::closeEvent(QCloseEvent* event) {
    if (transferLock_.active && !ended_) {
        if (shutDownAsked_ == ShutDown::None) {
            shutDownAsked_ = ShutDown::Close;
        }
        event->ignore();
        return;
    }
    if (!ended_) {
        Form_Unload();
    }
    event->accept();
}

// Both shut-down paths stop every timer first: a tick after them would poll, report a dead link or
// probe ports for a window that is gone. A transfer's settle wait ends with its timer.
void Form1::stopTimers() {
    for (IntervalTimer* timer : {Timer1, Timer2.get(), Timer3.get(), Timer4}) {
        timer->setEnabled(false);
    }
}

void Form1::Form_Unload() {
    ended_ = true;
    stopTimers();
    UnloadAllForms(QString());
    session->close();
    writeSavedPort();
}

void Form1::Exit_Click() {
    if (transferLock_.active) {
        shutDownAsked_ = ShutDown::Exit;
        return;
    }
    ended_ = true;
    stopTimers();
    // The process ends without closing its windows: the chart keeps its size and series as a close
    // would have it.
    if (ChartWindow* chart = trendTools->chart(); chart && chart->isVisible()) {
        chart->saveSettings();
    }
    session->close();
    writeSavedPort();
    platform_.endProcess();
}

void Form1::About_Click() {
    if (frmAbout) {
        bringToFront(frmAbout);
        return;
    }
    frmAbout = new AboutDialog(this);  // deleted on close
    frmAbout->show();
}

void Form1::UnloadAllForms(const QString& keepName) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window != this && window->isVisible() && window->objectName() != keepName) {
            window->close();
        }
    }
}

}  // namespace kv
