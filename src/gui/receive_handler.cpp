#include "core/calibration/editing_rules.h"
#include "core/readings/readings.h"
#include "gui/main_window.h"
#include "protocol/device_protocol.h"

#include <span>

namespace kv {

// ---- the receive handler ---------------------------------------------------------------------

void Form1::MSComm1_OnComm() {
    // The session takes the block off the line and decodes it by its length; a frame has already
    // restarted the watchdog (Timer4), so it counts a full interval from this frame. Line events
    // and blocks of any other length come back as None and are dropped.
    const DeviceSession::Block block = session->receive();

    if (block.kind == DeviceSession::Block::Image) {
        const SettingsImage& image = block.image;
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
        return;
    }

    if (block.kind == DeviceSession::Block::Frame) {
        const MonitoringFrame& frame = block.frame;
        for (int field = 0; field < kMonitoringFields; ++field) {
            monitoringSample[field] = frame.sample[field];
            showMonitoringValue(field, monitoringSample[field]);
        }
        showText(Text9, correctionActiveText(frame.correctionActive));
        rxMode = 1;
        session->publish(block);  // the boxes hold it: now the chart, the recorder and the rest
    }
}

}  // namespace kv
