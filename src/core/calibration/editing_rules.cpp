#include "core/calibration/editing_rules.h"

#include "core/calibration/decimal_number.h"

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

}  // namespace kv
