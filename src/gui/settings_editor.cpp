#include "core/calibration/editing_rules.h"
#include "gui/main_window.h"

#include <span>

namespace kv {

namespace {

// What tells the Col, Row and Matrix arrays apart; the rules themselves are the same.
struct BoxArray {
    std::span<TextBox* const> boxes;
    std::span<QString> lastGood;
    std::span<const QString> device;
    AxisOrder order;
    int upperLimit;
    QColor normal;
    QColor differing;
};

enum class Grid { Col, Row, Matrix };

BoxArray boxArray(Form1& w, Grid grid) {
    switch (grid) {
        case Grid::Col:
            return {w.Col,
                    w.colLastGood,
                    w.colDevice,
                    AxisOrder::NotDecreasing,
                    255,
                    colorFromBgr(kAxisNormal),
                    colorFromBgr(kAxisDiffering)};
        case Grid::Row:
            return {w.Row,
                    w.rowLastGood,
                    w.rowDevice,
                    AxisOrder::NotIncreasing,
                    100,
                    colorFromBgr(kAxisNormal),
                    colorFromBgr(kAxisDiffering)};
        case Grid::Matrix:
            break;
    }
    return {w.Matrix,
            w.matrixLastGood,
            w.matrixDevice,
            AxisOrder::None,
            255,
            w.windowBackground(),
            colorFromBgr(kCellDiffering)};
}

void markAgainstDevice(const BoxArray& a, std::size_t index) {
    const QString& device = a.device[index];
    if (device.isEmpty()) {
        return;
    }
    QLineEdit* box = a.boxes[index];
    Form1::setBackColor(box, box->text() == device ? a.normal : a.differing);
}

void changeRule(const BoxArray& a, int index) {
    const auto i = static_cast<std::size_t>(index);
    TextBox* box = a.boxes[i];
    const QString text = box->text();
    if (text.isEmpty() || isNumeric(text)) {
        a.lastGood[i] = text;
    } else {
        // Put the caret back where it was before the keystroke; setText moves it to the end.
        const QString restored = a.lastGood[i];
        const qsizetype caret = box->cursorPosition() - (text.size() - restored.size());
        box->setText(restored);  // runs this rule again, which accepts it
        box->setCursorPosition(int(std::clamp<qsizetype>(caret, 0, restored.size())));
    }
    markAgainstDevice(a, i);
}

void commitRule(const BoxArray& a, int index) {
    const auto i = static_cast<std::size_t>(index);
    TextBox* box = a.boxes[i];
    if (box->text().isEmpty()) {
        return;
    }
    const QString previous = i > 0 ? a.boxes[i - 1]->text() : QString();
    const QString next = i + 1 < a.boxes.size() ? a.boxes[i + 1]->text() : QString();
    box->setText(committedText(box->text(), previous, next, a.order, a.upperLimit));
    markAgainstDevice(a, i);
}

constexpr int kEnter = 13;

}  // namespace

void Form1::Col_Change(int index) {
    changeRule(boxArray(*this, Grid::Col), index);
}
void Form1::Row_Change(int index) {
    changeRule(boxArray(*this, Grid::Row), index);
}
void Form1::Matrix_Change(int index) {
    changeRule(boxArray(*this, Grid::Matrix), index);
}

void Form1::Col_KeyPress(int index, int keyAscii) {
    if (keyAscii == kEnter) {
        commitRule(boxArray(*this, Grid::Col), index);
    }
}
void Form1::Row_KeyPress(int index, int keyAscii) {
    if (keyAscii == kEnter) {
        commitRule(boxArray(*this, Grid::Row), index);
    }
}
void Form1::Matrix_KeyPress(int index, int keyAscii) {
    if (keyAscii == kEnter) {
        commitRule(boxArray(*this, Grid::Matrix), index);
    }
}

void Form1::Col_LostFocus(int index) {
    commitRule(boxArray(*this, Grid::Col), index);
}
void Form1::Row_LostFocus(int index) {
    commitRule(boxArray(*this, Grid::Row), index);
}
void Form1::Matrix_LostFocus(int index) {
    commitRule(boxArray(*this, Grid::Matrix), index);
}

// The delay compares by value in single precision, as the device copy is kept: 2.50 equals 2.5.
void Form1::Text7_Change() {
    if (delayDevice == 255.0f) {
        return;
    }
    setBackColor(
        Text7, singleValue(Text7->text()) == delayDevice ? windowBackground() : colorFromBgr(kCellDiffering));
}

void Form1::Text8_Change() {
    if (activeDevice.isEmpty()) {
        return;
    }
    setBackColor(Text8, Text8->text() == activeDevice ? windowBackground() : colorFromBgr(kCellDiffering));
}

void Form1::Command6_Click() {
    const QString yes = QStringLiteral("Yes");
    const QString no = QStringLiteral("No");
    if (Text8->text() == yes) {
        Text8->setText(no);
    } else if (Text8->text() == no) {
        Text8->setText(yes);
    }
    if (Text8->text().isEmpty()) {
        Text8->setText(yes);
    }
}

void Form1::Command7_Click() {
    if (const auto text = delayStepText(Text7->text(), true)) {
        Text7->setText(*text);
    }
}

void Form1::Command8_Click() {
    if (const auto text = delayStepText(Text7->text(), false)) {
        Text7->setText(*text);
    }
}

void Form1::Command13_Click() {
    for (TextBox* cell : Matrix) {
        if (const auto text = tableStepText(cell->text(), 10)) {
            cell->setText(*text);
        }
    }
}

void Form1::Command12_Click() {
    for (TextBox* cell : Matrix) {
        if (const auto text = tableStepText(cell->text(), -10)) {
            cell->setText(*text);
        }
    }
}

}  // namespace kv
