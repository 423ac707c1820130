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
        Timer4->setEnabled(true);  // counts from before the open, so a dead port is reported too
        session->expect(kMonitoringFrameSize);
        // A port that cannot be opened gets neither request nor poll: the watchdog reports it and
        // takes the link down. A failed first request on an open port is left to the poll.
        if (session->open()) {
            session->send(requestSample);
            Timer1->setEnabled(true);
        }
        Timer3->setEnabled(false);
        frameFeed->publishLink(true, platform_.nowMs());
        return;
    }
    Command1->setText(connectCaption());
    Command11->setVisible(false);
    Timer4->setEnabled(false);
    Timer1->setEnabled(false);
    Timer3->setEnabled(true);
    session->close();  // nothing is sent on a disconnect
    rxMode = 0;
    frameFeed->publishLink(false, platform_.nowMs());
}

void Form1::Timer1_Timer() {
    if (session->send(requestSample)) {
        return;
    }
    // The port has gone away: down without a message, and the menu shows what is left.
    Timer1->setEnabled(false);
    setUnitTag({});
    Command1->setText(connectCaption());
    Command11->setVisible(false);
    Timer4->setEnabled(false);
    Timer3->setEnabled(true);
    session->close();
    rxMode = 0;
    frameFeed->publishLink(false, platform_.nowMs());
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
