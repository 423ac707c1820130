// Save Settings to File and Load Settings from File: the .cal file behind the standard dialogs,
// with the live link taken down around the operation and brought back at every end.
#include "core/calibration/calibration_file.h"
#include "core/calibration/calibration_rules.h"
#include "gui/main_window.h"

#include <QDir>

namespace kv {

namespace {

FileDialogOptions calibrationDialog(const QString& title) {
    FileDialogOptions options;
    options.title = title;
    options.filter = QStringLiteral("Calibration Settings (*.cal)|*.cal");
    options.filterIndex = 1;
    options.flags = 4;
    options.cancelError = true;
    return options;
}

const QString kCancelled = QStringLiteral("Save Cancelled");

// Takes the live link down for the length of a file operation and brings it back however it ends.
class LinkPause {
  public:
    explicit LinkPause(Form1& window) : window_(window) {
        if (window_.Command1->text() == QStringLiteral("Disconnect")) {
            window_.Command1_Click();
            wasConnected_ = true;
        }
    }
    ~LinkPause() {
        if (wasConnected_) {
            window_.Command1_Click();
        }
    }
    LinkPause(const LinkPause&) = delete;
    LinkPause& operator=(const LinkPause&) = delete;

  private:
    Form1& window_;
    bool wasConnected_ = false;
};

}  // namespace

void Form1::Command9_Click() {
    LinkPause pause(*this);
    const CalibrationTexts texts = editorTexts();
    if (hasEmptyField(texts)) {
        platform_.messageBox(this, QStringLiteral("Missing data in one (or more) of the settings fields"));
        return;
    }
    const std::optional<QString> path =
        platform_.fileDialog(this, FileDialogKind::Save, calibrationDialog(QStringLiteral("Save File")));
    if (!path) {
        platform_.messageBox(this, kCancelled);
        return;
    }
    FileError error;
    if (!platform_.writeTextFileAtomically(*path, calibrationFileContent(texts), &error)) {
        platform_.messageBox(this, asSentence(QStringLiteral("The file \"%1\" could not be saved: %2")
                                                  .arg(QDir::toNativeSeparators(*path), error.message)));
        return;
    }
    platform_.messageBox(this, QStringLiteral("File saved"));
}

void Form1::Command10_Click() {
    LinkPause pause(*this);
    const std::optional<QString> path =
        platform_.fileDialog(this, FileDialogKind::Open, calibrationDialog(QStringLiteral("Open File")));
    if (!path) {
        platform_.messageBox(this, kCancelled);
        return;
    }
    FileError error;
    const std::optional<QByteArray> content = platform_.readTextFile(*path, &error);
    if (!content) {
        platform_.messageBox(this, asSentence(QStringLiteral("The file \"%1\" could not be read: %2")
                                                  .arg(QDir::toNativeSeparators(*path), error.message)));
        return;
    }
    loadCalibrationFile(*content);
}

void Form1::loadCalibrationFile(const QByteArray& content) {
    const auto lines = calibrationFileLines(content);

    // Every write runs the box's change rule; a box's last accepted text follows it once the box
    // has had its turn.
    auto spread = [](const QString& line, auto& boxes, auto* lastGood) {
        const std::vector<BoxWrite> writes = splitLine(line, int(boxes.size()));
        auto next = writes.begin();
        for (int i = 0; i < int(boxes.size()); ++i) {
            for (; next != writes.end() && next->box == i; ++next) {
                boxes[i]->setText(next->text);
            }
            if (lastGood) {
                (*lastGood)[i] = boxes[i]->text();
            }
        }
    };
    spread(lines[0], Col, &colLastGood);
    spread(lines[1], Row, &rowLastGood);
    spread(lines[2], Matrix, static_cast<std::array<QString, 30>*>(nullptr));
    Text7->setText(lines[3]);
    Text8->setText(lines[4]);
}

}  // namespace kv
