#include "core/calibration_rules.h"

#include "core/editing_rules.h"
#include "gui/main_window.h"
#include "protocol/device_protocol.h"

#include <QLabel>

#include <algorithm>

namespace kv {

namespace {

const QString kLoadBanner = QStringLiteral("Loading Settings from Kestrovar.....");
const QString kSaveBanner = QStringLiteral("Saving Settings to Kestrovar.......");
const QString kVerifyBanner = QStringLiteral("Verifying Settings in Kestrovar.......");
const QString kLinkFailed = QStringLiteral("Connection to KestroVar Failed");
const QString kMissingData = QStringLiteral("Missing data in one (or more) of the settings fields");

// Why these texts cannot be sent, or nothing when they can.
std::optional<QString> refusal(const CalibrationTexts& texts) {
    if (hasEmptyField(texts)) {
        return kMissingData;
    }
    if (auto unsendable = firstUnsendableField(texts)) {
        return unsendable->message;
    }
    return std::nullopt;
}

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
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }
    Timer2->setEnabled(false);
}

// One Timer2 interval during which the receive handler, the timers and the change rules run.
// It always ends with the port closed. The 55 ms naps never run past the tick, and the wait ends
// as soon as the tick has run, so a wait lasts the interval and not up to a nap longer.
void Form1::settleWait() {
    Timer2->setEnabled(true);
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
    return MSComm1->PortOpen() || MSComm1->setPortOpen(true);
}

bool Form1::transferWrite(std::uint8_t byte) {
    return MSComm1->Output(byte);
}

void Form1::abandonTransfer() {
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }
    Timer2->setEnabled(false);
    rxMode = 0;
    Label6->setVisible(false);
    for (QPushButton* button : {Command1, Command11, Command2, Command5}) {
        button->setEnabled(true);
    }
    // Disconnected again: the menu refresh runs, and at once, in case the adapter was pulled out.
    Timer3->setEnabled(true);
    RefreshPortMenu();
    platform_.messageBox(this, kLinkFailed);
}

// ---- Load Settings from KestroVar ------------------------------------------------------------

void Form1::Command2_Click() {
    if (rxMode != 1) {
        platform_.messageBox(this,
                             QStringLiteral("Must be connected to KestroVar in order to load settings."));
        return;
    }
    Label6->setText(kLoadBanner);
    Label6->setVisible(true);
    Timer3->setEnabled(false);
    for (QPushButton* button : {Command1, Command11, Command5, Command2}) {
        button->setEnabled(false);
    }
    Command1_Click();  // the live link goes down
    Timer3->setEnabled(false);
    settleWait();
    if (ended_) {
        return;
    }

    MSComm1->setRThreshold(int(kSettingsImageSize));
    MSComm1->setInputLen(int(kSettingsImageSize));
    const int imagesBefore = settingsImagesReceived;
    if (!transferPortReady() || !transferWrite(requestSettings)) {
        abandonTransfer();
        return;
    }
    settleWait();  // the settings image arrives in here
    if (ended_) {
        return;
    }
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }

    Command1_Click();  // and comes back up
    for (QPushButton* button : {Command1, Command11, Command5, Command2}) {
        button->setEnabled(true);
    }
    Label6->setVisible(false);

    recordLoad(settingsImagesReceived > imagesBefore);  // the calibration history
}

// ---- Save Settings to KestroVar --------------------------------------------------------------

void Form1::Command5_Click() {
    if (rxMode != 1) {
        platform_.messageBox(this,
                             QStringLiteral("Must be connected to KestroVar in order to save settings."));
        return;
    }
    // A value with no byte of its own would reach the device as some other value: refuse it first.
    if (const auto problem = refusal(editorTexts())) {
        platform_.messageBox(this, *problem);
        return;
    }

    // Write phase.
    Label6->setText(kSaveBanner);
    Label6->setVisible(true);
    for (QPushButton* button : {Command1, Command11, Command2, Command5}) {
        button->setEnabled(false);
    }
    Command1_Click();
    Timer3->setEnabled(false);
    settleWait();
    if (ended_) {
        return;
    }
    // The boxes stay editable during the wait; what goes out is what they hold now.
    const CalibrationTexts sent = editorTexts();
    if (const auto problem = refusal(sent)) {
        platform_.messageBox(this, *problem);
        Label6->setVisible(false);
        Command1_Click();
        for (QPushButton* button : {Command1, Command11, Command2, Command5}) {
            button->setEnabled(true);
        }
        return;
    }
    if (!transferPortReady() || !transferWrite(writeSettings)) {
        abandonTransfer();
        return;
    }
    platform_.sleep(kWriteCommandPauseMs);
    const SettingsBytes bytes = settingsWriteBytes(sent);
    for (std::uint8_t byte : bytes) {
        if (!transferWrite(byte)) {
            abandonTransfer();
            recordSave(sent, false, false);  // the calibration history
            return;
        }
    }
    delaySent = singleValue(sent.delay);
    activeSent = sent.active;
    colSent = sent.col;
    rowSent = sent.row;
    matrixSent = sent.matrix;

    settleWait();
    if (ended_) {
        return;
    }
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }

    // The editor as the device now holds it.
    for (int i = 0; i < 30; ++i) {
        matrixDevice[i] = Matrix[i]->text();
        setBackColor(Matrix[i], windowBackground());
    }
    for (int i = 0; i < 5; ++i) {
        colDevice[i] = Col[i]->text();
        setBackColor(Col[i], colorFromBgr(kAxisNormal));
    }
    for (int j = 0; j < 6; ++j) {
        rowDevice[j] = Row[j]->text();
        setBackColor(Row[j], colorFromBgr(kAxisNormal));
    }
    activeDevice = Text8->text();
    setBackColor(Text8, windowBackground());
    delayDevice = singleValue(Text7->text());
    setBackColor(Text7, windowBackground());

    // Verify phase: read the settings back and compare every field with what was sent.
    Label6->setText(kVerifyBanner);
    MSComm1->setRThreshold(int(kSettingsImageSize));
    MSComm1->setInputLen(int(kSettingsImageSize));
    const int imagesBefore = settingsImagesReceived;
    if (!transferPortReady() || !transferWrite(requestSettings)) {
        abandonTransfer();
        recordSave(sent, false, false);  // the calibration history
        return;
    }
    settleWait();
    if (ended_) {
        return;
    }
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }

    // Without a read-back nothing was verified.
    bool ok = settingsImagesReceived > imagesBefore;
    const QColor cellDiffering = colorFromBgr(kCellDiffering);
    const QColor axisDiffering = colorFromBgr(kAxisDiffering);
    for (int i = 0; i < 30; ++i) {
        if (Matrix[i]->text() != matrixSent[i]) {
            ok = false;
            setBackColor(Matrix[i], cellDiffering);
        }
    }
    for (int i = 0; i < 5; ++i) {
        if (Col[i]->text() != colSent[i]) {
            ok = false;
            setBackColor(Col[i], axisDiffering);
        }
    }
    for (int j = 0; j < 6; ++j) {
        if (Row[j]->text() != rowSent[j]) {
            ok = false;
            setBackColor(Row[j], axisDiffering);
        }
    }
    if (Text8->text() != activeSent) {
        ok = false;
        setBackColor(Text8, cellDiffering);
    }
    if (singleValue(Text7->text()) != delaySent) {
        ok = false;
        setBackColor(Text7, cellDiffering);
    }
    platform_.messageBox(this, ok ? QStringLiteral("Save to KestroVar Successful")
                                  : QStringLiteral("Save to KestroVar Failed"));

    Label6->setVisible(false);
    Command1_Click();
    for (QPushButton* button : {Command1, Command11, Command2, Command5}) {
        button->setEnabled(true);
    }

    recordSave(sent, settingsImagesReceived > imagesBefore, ok);  // the calibration history
}

}  // namespace kv
