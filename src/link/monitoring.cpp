#include "link/monitoring.h"

#include "app/main_window.h"
#include "link/device_protocol.h"

#include <QPushButton>

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace kv {

QString formatReading(float value, int decimals, const QString& suffix) {
    if (!std::isfinite(value)) {
        return QString::fromUtf16(kNoReading);
    }
    // Fixed notation of the exact value of the float, correctly rounded with ties to even. The
    // largest float has 39 integer digits.
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), double(value),
                                      std::chars_format::fixed, decimals);
    std::string_view text(buffer.data(), std::size_t(result.ptr - buffer.data()));
    if (text.starts_with('-') && text.find_first_not_of("-0.") == std::string_view::npos) {
        text.remove_prefix(1);  // -0.04 and -0.0 both show as zero
    }
    return QString::fromLatin1(text.data(), qsizetype(text.size())) + suffix;
}

QString voltageText(float value) {
    return formatReading(value, 3, QStringLiteral("V"));
}

QString temperatureText(float value) {
    return formatReading(value, 1, QString::fromUtf16(u"\u00B0F"));
}

QString monitoringText(int field, float value) {
    return field == inputVoltage || field == outputVoltage ? voltageText(value) : temperatureText(value);
}

QString correctionActiveText(std::uint8_t status) {
    return status == 1 ? QStringLiteral("Yes") : QStringLiteral("No");
}

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
    if (MSComm1->PortOpen() || MSComm1->setPortOpen(true)) {
        MSComm1->Output(togglePause);
    }
    if (MSComm1->PortOpen()) {
        MSComm1->setPortOpen(false);
    }
    Command1_Click();
    Command1->setVisible(true);
}

}  // namespace kv
