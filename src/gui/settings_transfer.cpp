#include "core/calibration/calibration_rules.h"

#include "core/calibration/calibration_text.h"
#include "core/calibration/editing_rules.h"
#include "gui/main_window.h"
#include "protocol/device_protocol.h"

#include <QAction>
#include <QLabel>
#include <QMenu>

#include <algorithm>
#include <utility>

namespace kv {

namespace {

const QString kLoadBanner = QStringLiteral("Loading Settings from Kestrovar.....");
const QString kSaveBanner = QStringLiteral("Saving Settings to Kestrovar.......");
const QString kVerifyBanner = QStringLiteral("Verifying Settings in Kestrovar.......");
const QString kLinkFailed = QStringLiteral("Connection to KestroVar Failed");

}  // namespace

CalibrationTexts Form1::editorTexts() const {
    CalibrationTexts texts;
    for (int i = 0; i < 5; ++i)
        texts.col[i] = Col[i]->text();
    for (int j = 0; j < 6; ++j)
        texts.row[j] = Row[j]->text();
    for (int k = 0; k < 30; ++k)
        texts.matrix[k] = Matrix[k]->text();
    texts.delay = Text7->text();
    texts.active = Text8->text();
    return texts;
}

// ---- the settle wait -------------------------------------------------------------------------

void Form1::Timer2_Timer() {
    session->close();
    Timer2->setEnabled(false);
}

// One Timer2 interval during which the receive handler, the timers and the change rules run.
// It always ends with the port closed. The 55 ms naps never run past the tick, and the wait ends
// as soon as the tick has run, so a wait lasts the interval and not up to a nap longer.
void Form1::settleWait(const std::function<void()>& meanwhile) {
    Timer2->setEnabled(true);
    if (meanwhile) {
        meanwhile();
    }
    while (Timer2->Enabled()) {
        platform_.doEvents();
        platform_.doEvents();
        if (!Timer2->Enabled()) {
            break;
        }
        platform_.sleep(std::clamp(Timer2->RemainingMs(), 1, 55));
    }
}

bool Form1::transferPortReady() {
    return session->open();
}

bool Form1::transferWrite(std::uint8_t byte) {
    return session->send(byte);
}

void Form1::abandonTransfer() {
    session->close();
    Timer2->setEnabled(false);
    rxMode = 0;
    Label6->setVisible(false);
    endTransfer();
    // Disconnected again: the menu refresh runs, and at once, in case the adapter was pulled out.
    Timer3->setEnabled(true);
    RefreshPortMenu();
    platform_.messageBox(this, kLinkFailed);
}

// ---- what a transfer holds still ---------------------------------------------------------------

void Form1::beginTransfer() {
    if (transferLock_.active) {
        return;
    }
    TransferLock& lock = transferLock_;
    lock.active = true;
    QWidget* const buttons[] = {Command1, Command11, Command2, Command5,  Command9, Command10,
                                Command6, Command7,  Command8, Command12, Command13};
    // Disabling the focused button would pass the focus on along the tab order, into Col(0), and
    // keys typed during the transfer would land there. The focus waits on the client area instead,
    // which takes no keys.
    if (QWidget* focused = focusWidget();
        std::find(std::begin(buttons), std::end(buttons), focused) != std::end(buttons)) {
        lock.focus = focused;
        centralWidget()->setFocus(Qt::OtherFocusReason);
    }
    for (QWidget* button : buttons) {
        lock.enabled.emplace_back(button, button->isEnabled());
        button->setEnabled(false);
    }
    auto freeze = [&lock](auto& boxes) {
        for (TextBox* box : boxes) {
            lock.readOnly.emplace_back(box, box->isReadOnly());
            box->setReadOnly(true);
        }
    };
    freeze(Col);
    freeze(Row);
    freeze(Matrix);
    // Choosing another port would send the rest of the transfer to it.
    lock.comPortMenu = comp->menuAction()->isEnabled();
    comp->menuAction()->setEnabled(false);
    Q_EMIT transferChanged(true);
}

void Form1::endTransfer() {
    if (!transferLock_.active) {
        return;
    }
    TransferLock lock = std::move(transferLock_);
    transferLock_ = TransferLock{};
    for (auto [box, readOnly] : lock.readOnly) {
        box->setReadOnly(readOnly);
    }
    for (auto [widget, enabled] : lock.enabled) {
        widget->setEnabled(enabled);
    }
    comp->menuAction()->setEnabled(lock.comPortMenu);
    if (lock.focus && focusWidget() == centralWidget()) {
        lock.focus->setFocus(Qt::OtherFocusReason);
    }
    Q_EMIT transferChanged(false);
}

// ---- a close during a transfer ---------------------------------------------------------------

// The close box and File > Exit wait for a running transfer: cut off, a Save would leave the device
// changed, unverified and without its read-back record.
void Form1::shutDownIfAsked() {
    const ShutDown asked = std::exchange(shutDownAsked_, ShutDown::None);
    if (asked == ShutDown::Exit) {
        Exit_Click();
    } else if (asked == ShutDown::Close) {
        close();
    }
}

// ---- Load Settings from KestroVar ------------------------------------------------------------

void Form1::Command2_Click() {
    loadFromDevice();
    shutDownIfAsked();
}

void Form1::loadFromDevice() {
    if (rxMode != 1) {
        platform_.messageBox(this,
                             QStringLiteral("Must be connected to KestroVar in order to load settings."));
        return;
    }
    Label6->setText(kLoadBanner);
    Label6->setVisible(true);
    Timer3->setEnabled(false);
    beginTransfer();
    Command1_Click();  // the live link goes down
    Timer3->setEnabled(false);
    settleWait();
    if (ended_) {
        return;
    }

    session->expect(kSettingsImageSize);
    const int imagesBefore = session->imagesReceived();
    if (!transferPortReady() || !transferWrite(requestSettings)) {
        abandonTransfer();
        return;
    }
    settleWait();  // the settings image arrives in here
    if (ended_) {
        return;
    }
    session->close();
    // Without a complete image the boxes still hold file or hand-typed values, not the device's.
    if (session->imagesReceived() == imagesBefore) {
        platform_.messageBox(this, QStringLiteral("Load from KestroVar Failed"));
        if (ended_) {
            return;
        }
    }

    Command1_Click();  // and comes back up
    endTransfer();
    Label6->setVisible(false);

    recordLoad(session->imagesReceived() > imagesBefore);  // the calibration history
}

// ---- Save Settings to KestroVar --------------------------------------------------------------

void Form1::Command5_Click() {
    saveToDevice();
    shutDownIfAsked();
}

void Form1::saveToDevice() {
    if (rxMode != 1) {
        platform_.messageBox(this,
                             QStringLiteral("Must be connected to KestroVar in order to save settings."));
        return;
    }
    // What goes out is what the boxes hold now: they stay read-only until the transfer ends.
    const CalibrationTexts sent = editorTexts();
    if (const auto problem = saveRefusal(sent)) {
        platform_.messageBox(this, *problem);
        return;
    }

    // Write phase.
    Label6->setText(kSaveBanner);
    Label6->setVisible(true);
    beginTransfer();
    Command1_Click();
    Timer3->setEnabled(false);
    settleWait();
    if (ended_) {
        return;
    }
    if (!transferPortReady() || !transferWrite(writeSettings)) {
        abandonTransfer();
        return;
    }
    platform_.sleep(kWriteCommandPauseMs);
    if (!session->sendCalibration(calibrationFromTexts(sent))) {  // 43 bytes, each written on its own
        recordSaveSent(sent, kHistoryNoReadBack);                 // some of them may have reached the device
        abandonTransfer();
        sayRecordProblem(QStringLiteral("save"));
        return;
    }
    delaySent = singleValue(sent.delay);
    activeSent = sent.active;
    colSent = sent.col;
    rowSent = sent.row;
    matrixSent = sent.matrix;

    // The device may hold the new values from here on: what was sent is kept before anything else.
    settleWait([&] { recordSaveSent(sent, kHistorySent); });
    if (ended_) {
        return;
    }
    session->close();

    // Verify phase: read the settings back and compare every field with what was sent.
    Label6->setText(kVerifyBanner);
    session->expect(kSettingsImageSize);
    const int imagesBefore = session->imagesReceived();
    if (!transferPortReady() || !transferWrite(requestSettings)) {
        abandonTransfer();
        sayRecordProblem(QStringLiteral("save"));
        return;
    }
    settleWait();
    if (ended_) {
        return;
    }
    session->close();

    // Only a complete read-back says what the device holds. The receive handler has made it the
    // device copies; every box starts unmarked and is marked where it did not come back as sent.
    // Without one, nothing was verified: the copies and the marks stay as they were.
    const bool readBack = session->imagesReceived() > imagesBefore;
    bool ok = readBack;
    if (ok) {
        const QColor cellNormal = windowBackground();
        const QColor axisNormal = colorFromBgr(kAxisNormal);
        const QColor cellDiffering = colorFromBgr(kCellDiffering);
        const QColor axisDiffering = colorFromBgr(kAxisDiffering);
        auto verify = [&ok](QLineEdit* box, bool same, const QColor& normal, const QColor& differing) {
            ok = ok && same;
            setBackColor(box, same ? normal : differing);
        };
        for (int i = 0; i < 30; ++i)
            verify(Matrix[i], Matrix[i]->text() == matrixSent[i], cellNormal, cellDiffering);
        for (int i = 0; i < 5; ++i)
            verify(Col[i], Col[i]->text() == colSent[i], axisNormal, axisDiffering);
        for (int j = 0; j < 6; ++j)
            verify(Row[j], Row[j]->text() == rowSent[j], axisNormal, axisDiffering);
        verify(Text8, Text8->text() == activeSent, cellNormal, cellDiffering);
        verify(Text7, singleValue(Text7->text()) == delaySent, cellNormal, cellDiffering);
        recordSaveReadBack(ok);
    }
    platform_.messageBox(this, ok ? QStringLiteral("Save to KestroVar Successful")
                                  : QStringLiteral("Save to KestroVar Failed"));
    if (ended_) {
        return;
    }

    Label6->setVisible(false);
    Command1_Click();
    endTransfer();

    sayRecordProblem(QStringLiteral("save"));
}

}  // namespace kv
