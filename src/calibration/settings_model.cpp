#include "calibration/settings_model.h"

#include "app/main_window.h"
#include "calibration/decimal_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <span>

namespace kv {
namespace {

std::optional<DecimalNumber> wholeTextNumber(QStringView text) {
    auto scan = DecimalNumber::scan(text);
    if (!scan.found || !scan.wholeText) {
        return std::nullopt;
    }
    return std::move(scan.value);
}

std::optional<QString> boxText(const DecimalNumber& value) {
    if (value.plainLength() > kMaxBoxText) {
        return std::nullopt;
    }
    return value.plainText();
}

std::optional<std::uint8_t> byteOf(const DecimalNumber& value) {
    const auto integer = value.roundedHalfEven(0).toIntegerWithin(0, 255);
    if (!integer) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*integer);
}

}  // namespace

bool isNumeric(QStringView text) {
    return wholeTextNumber(text).has_value();
}

double leadingValue(QStringView text) {
    return DecimalNumber::scan(text).value.toDouble();
}

std::optional<double> wholeTextValue(QStringView text) {
    const auto number = wholeTextNumber(text);
    if (!number) {
        return std::nullopt;
    }
    return number->toDouble();
}

float singleValue(QStringView text) {
    return DecimalNumber::scan(text).value.toFloat();
}

int compareLeadingValues(QStringView a, QStringView b) {
    const auto order = DecimalNumber::scan(a).value <=> DecimalNumber::scan(b).value;
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::optional<QString> roundedText(QStringView text, int decimals) {
    const auto number = wholeTextNumber(text);
    if (!number || decimals < 0) {
        return std::nullopt;
    }
    return boxText(number->roundedHalfEven(decimals));
}

QString numberText(double value) {
    if (!std::isfinite(value)) {
        return {};
    }
    // The shortest digits that read back as the same double, then laid out without an exponent.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return DecimalNumber::scan(QString::fromLatin1(buffer, result.ptr - buffer)).value.plainText();
}

std::optional<std::uint8_t> gridByte(QStringView text) {
    const auto number = wholeTextNumber(text);
    return number ? byteOf(*number) : std::nullopt;
}

std::optional<std::uint8_t> delayByte(QStringView text) {
    const auto number = wholeTextNumber(text);
    return number ? byteOf(*number + *number) : std::nullopt;
}

QString committedText(QStringView text, QStringView previous, QStringView next, AxisOrder order,
                      int upperLimit) {
    if (text.isEmpty()) {
        return {};
    }
    QStringView current = text;
    // Only the edited box moves, so the axis stays in order whatever the user typed.
    if (order != AxisOrder::None) {
        const int sign = order == AxisOrder::NotDecreasing ? 1 : -1;
        if (!next.isEmpty() && sign * compareLeadingValues(current, next) > 0) {
            current = next;
        }
        if (!previous.isEmpty() && sign * compareLeadingValues(current, previous) < 0) {
            current = previous;
        }
    }
    // The change rule keeps box texts numeric; any other text is read by its leading value.
    const auto scan = DecimalNumber::scan(current);
    const DecimalNumber& value = scan.value;
    if (value > DecimalNumber::fromInteger(upperLimit)) {
        return QString::number(upperLimit);
    }
    if (value.isNegative()) {
        return QStringLiteral("0");
    }
    return value.roundedHalfEven(0).plainText();
}

std::optional<QString> tableStepText(QStringView cell, int step) {
    const DecimalNumber moved =
        wholeTextNumber(cell).value_or(DecimalNumber{}) + DecimalNumber::fromInteger(step);
    if (step > 0 && moved > DecimalNumber::fromInteger(255)) {
        return QStringLiteral("255");
    }
    if (step < 0 && moved.isNegative()) {
        return QStringLiteral("0");
    }
    return boxText(moved);
}

std::optional<QString> delayStepText(QStringView delay, bool up) {
    const auto number = wholeTextNumber(delay);
    if (!number) {
        return up ? QStringLiteral("0.5") : QStringLiteral("0");
    }
    const DecimalNumber half = DecimalNumber::scan(u"0.5").value;
    const DecimalNumber moved = up ? *number + half : *number - half;
    if (up && moved > DecimalNumber::fromInteger(30)) {
        return QStringLiteral("30");
    }
    if (!up && moved.isNegative()) {
        return QStringLiteral("0");
    }
    return boxText(moved);
}

// ---- the editing rules of the calibration boxes ------------------------------------------------

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
