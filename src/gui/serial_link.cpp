#include "gui/serial_link.h"

#include "gui/main_window.h"
#include "protocol/device_protocol.h"

#include <QPushButton>

namespace kv {

void Form1::Command1_Click() {
    if (selectedPort != 1) {
        platform_.messageBox(this, QStringLiteral("Select a COM Port to Connect"));
        return;
    }
    if (Command1->text() == connectCaption()) {
        Command1->setText(disconnectCaption());
        Command11->setVisible(true);
        // The session's watchdog counts from before the open, so a dead port is reported too and
        // takes the link down.
        session->beginMonitoring();
        Timer3->setEnabled(false);
        return;
    }
    Command1->setText(connectCaption());
    Command11->setVisible(false);
    Timer3->setEnabled(true);
    session->stopMonitoring();  // nothing is sent on a disconnect
    rxMode = 0;
}

void Form1::linkLost() {
    // A poll request could not be written: the port has gone away and the session has stopped.
    // Down without a message, and the menu shows what is left.
    setUnitTag({});
    Command1->setText(connectCaption());
    Command11->setVisible(false);
    Timer3->setEnabled(true);
    rxMode = 0;
    RefreshPortMenu();
}

void Form1::Timer3_Timer() {
    RefreshPortMenu();
}

void Form1::Timer4_Timer() {
    // A frame arriving while the message is open restarts the watchdog, which may fire again: the
    // open message already says it, and its OK takes the link down.
    if (watchdogMessageOpen_) {
        return;
    }
    watchdogMessageOpen_ = true;
    setUnitTag({});  // the link is lost: the next unit's records must not carry this one's tag
    platform_.messageBox(this, QStringLiteral("Connection to KestroVar Failed"));
    watchdogMessageOpen_ = false;
    // While the message was open the poll may already have taken the link down; toggling then
    // would connect again.
    if (Command1->text() == disconnectCaption()) {
        Command1_Click();
    }
}

}  // namespace kv
