#include "core/editing_rules.h"
#include "core/readings.h"
#include "gui/main_window.h"
#include "protocol/device_protocol.h"

#include <span>

namespace kv {

// ---- the receive handler ---------------------------------------------------------------------

void Form1::MSComm1_OnComm() {
    if (MSComm1->CommEvent() != comEvReceive) {
        return;  // line errors and every other event are ignored
    }
    const QByteArray block = MSComm1->Input();
    const auto* data = reinterpret_cast<const std::uint8_t*>(block.constData());

    if (std::size_t(block.size()) == kSettingsImageSize) {
        const SettingsImage image = settingsFromReadLayout(
            std::span<const std::uint8_t, kSettingsImageSize>(data, kSettingsImageSize));
        // Each box's change rule runs inside setText and still sees the earlier device copy. A box
        // that already held the text raises no change, so once its copy is taken every box is marked
        // again: it now shows whether it differs from what the device holds.
        for (std::size_t k = 0; k < image.col.size(); ++k) {
            Col[k]->setText(QString::number(image.col[k]));
            colDevice[k] = Col[k]->text();
            colLastGood[k] = Col[k]->text();
            Col_Change(int(k));
        }
        for (std::size_t k = 0; k < image.row.size(); ++k) {
            Row[k]->setText(QString::number(image.row[k]));
            rowDevice[k] = Row[k]->text();
            rowLastGood[k] = Row[k]->text();
            Row_Change(int(k));
        }
        for (std::size_t k = 0; k < image.matrix.size(); ++k) {
            Matrix[k]->setText(QString::number(image.matrix[k]));
            matrixDevice[k] = Matrix[k]->text();
            Matrix_Change(int(k));
        }
        const float delay = float(image.delay) / 2.0f;
        Text7->setText(numberText(delay));
        delayDevice = delay;
        Text7_Change();
        if (image.correctionSwitch == 1) {
            Text8->setText(QStringLiteral("Yes"));
        } else if (image.correctionSwitch == 0) {
            Text8->setText(QStringLiteral("No"));
        }
        activeDevice = Text8->text();
        Text8_Change();
        ++settingsImagesReceived;  // lets a save tell a read-back from silence
        return;
    }

    if (std::size_t(block.size()) == kMonitoringFrameSize) {
        Timer4->setEnabled(false);  // the watchdog counts a full interval from this frame
        Timer4->setEnabled(true);
        const MonitoringFrame frame = decodeMonitoringFrame(
            std::span<const std::uint8_t, kMonitoringFrameSize>(data, kMonitoringFrameSize));
        for (int field = 0; field < kMonitoringFields; ++field) {
            monitoringSample[field] = frame.sample[field];
            showMonitoringValue(field, monitoringSample[field]);
        }
        showText(Text9, correctionActiveText(frame.correctionActive));
        rxMode = 1;
        FeedFrame published;
        published.timeMs = platform_.nowMs();
        published.values = frame.sample;
        published.correctionActive = frame.correctionActive == 1;
        frameFeed.publish(published);
    }
    // A block of any other length is dropped.
}

}  // namespace kv
