#include "core/readings/readings.h"
#include "gui/main_window.h"
#include "protocol/device_protocol.h"

#include <QPushButton>

#include <array>

namespace kv {

// ---- the display and the pause button --------------------------------------------------------

void Form1::showMonitoringValue(int field, float value) {
    const std::array<TextBox*, kMonitoringFields> boxes{Text1, Text2, Text3, Text4, Text5, Text6};
    if (field < 0 || field >= kMonitoringFields) {
        return;
    }
    showText(boxes[field], monitoringText(field, value));
}

void Form1::showText(QLineEdit* box, const QString& text) {
    // The readings drift slowly, so most frames repeat most texts. Setting the same text again
    // changes nothing a user sees, but would lay the text out anew every 700 ms.
    if (box->text() != text) {
        box->setText(text);
    }
}

void Form1::Text9_Change() {
    Command11->setText(Text9->text() == QStringLiteral("Yes")
                           ? QStringLiteral("Pause Humidity Correction")
                           : QStringLiteral("Unpause Humidity Correction"));
}

void Form1::Command11_Click() {
    if (Command1->text() != QStringLiteral("Disconnect")) {
        platform_.messageBox(
            this, QStringLiteral("Start Monitoring to Determine if Humidity Correction is Active"));
        return;
    }
    Command1->setVisible(false);  // no connect or disconnect by the user during the sequence
    Command1_Click();
    Timer3->setEnabled(false);
    // An adapter that cannot be opened gets no toggle; the reconnect below then meets the same port
    // and the watchdog reports the failed link.
    if (session->open()) {
        session->send(togglePause);
    }
    session->close();
    Command1_Click();
    Command1->setVisible(true);
}

}  // namespace kv
