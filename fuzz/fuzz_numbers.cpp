// Arbitrary texts through the numeric test, the leading value, the commit and the buttons.
// The first byte picks the box kind and a number of decimals; the rest is the text, then
// optionally "\x01" and the left neighbour, "\x01" and the right neighbour (Latin-1).
#include "core/calibration/editing_rules.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isIntegerText(const QString& text) {
    if (text.isEmpty() || (text.size() > 1 && text.front() == u'0')) {
        return false;
    }
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

void checkNumberRules(const QString& text, int decimals) {
    const auto whole = kv::wholeTextValue(text);
    check(kv::isNumeric(text) == whole.has_value());
    if (whole) {
        check(*whole == kv::leadingValue(text));
        const auto rounded = kv::roundedText(text, decimals);
        if (rounded) {
            check(kv::isNumeric(*rounded));
            check(kv::roundedText(*rounded, decimals) == rounded);
        }
        if (const auto byte = kv::gridByte(text)) {
            check(kv::roundedText(text, 0) == QString::number(*byte));
        }
    }
    const double leading = kv::leadingValue(text);
    if (const QString written = kv::numberText(leading); !written.isEmpty()) {
        check(kv::isNumeric(written));
        check(kv::leadingValue(written) == leading);
    }
    for (const int step : {10, -10}) {
        if (const auto moved = kv::tableStepText(text, step)) {
            check(kv::isNumeric(*moved));
        }
    }
    for (const bool up : {true, false}) {
        if (const auto moved = kv::delayStepText(text, up)) {
            check(kv::isNumeric(*moved));
        }
    }
}

void checkCommit(const QString& text, const QString& previous, const QString& next, kv::AxisOrder order,
                 int limit) {
    // Neighbours as the editor keeps them: committed and in order.
    QString left = kv::committedText(previous, {}, {}, kv::AxisOrder::None, limit);
    QString right = kv::committedText(next, {}, {}, kv::AxisOrder::None, limit);
    const int direction = order == kv::AxisOrder::NotIncreasing ? -1 : 1;
    if (!left.isEmpty() && !right.isEmpty() && direction * kv::compareLeadingValues(left, right) > 0) {
        std::swap(left, right);
    }
    const QString committed = kv::committedText(text, left, right, order, limit);
    if (text.isEmpty()) {
        check(committed.isEmpty());
        return;
    }
    check(isIntegerText(committed));
    check(committed.size() <= 3 && committed.toInt() <= limit);
    check(kv::gridByte(committed).has_value());
    if (order != kv::AxisOrder::None) {
        if (!left.isEmpty()) {
            check(direction * kv::compareLeadingValues(committed, left) >= 0);
        }
        if (!right.isEmpty()) {
            check(direction * kv::compareLeadingValues(committed, right) <= 0);
        }
    }
    // A second commit changes nothing.
    check(kv::committedText(committed, left, right, order, limit) == committed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const int selector = data[0];
    const QStringList parts =
        QString::fromLatin1(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1))
            .split(QChar(1));
    const QString text = parts.value(0);

    checkNumberRules(text, selector % 4);
    check(kv::compareLeadingValues(text, parts.value(1)) == -kv::compareLeadingValues(parts.value(1), text));

    static constexpr kv::AxisOrder orders[] = {kv::AxisOrder::NotDecreasing, kv::AxisOrder::NotIncreasing,
                                               kv::AxisOrder::None};
    static constexpr int limits[] = {255, 100, 255};
    const int kind = (selector / 4) % 3;
    checkCommit(text, parts.value(1), parts.value(2), orders[kind], limits[kind]);
    return 0;
}
