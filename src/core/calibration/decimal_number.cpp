#include "core/calibration/decimal_number.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <vector>

namespace kv {
namespace {

// Exponents beyond this are saturated while reading; no text of a box comes anywhere near them.
constexpr std::int64_t kExponentCap = 1'000'000'000'000;
// Two numbers whose digits would span more positions than this are not added digit by digit: the
// smaller one is far below the precision any box can show.
constexpr std::int64_t kMaxAdditionWidth = 100'000;

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}
bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// -1, 0, 1 for |a| against |b|, both normalized.
int compareMagnitude(const std::string& aDigits, std::int64_t aTop, const std::string& bDigits,
                     std::int64_t bTop) {
    if (aDigits.empty() || bDigits.empty()) {
        return int(!aDigits.empty()) - int(!bDigits.empty());
    }
    if (aTop != bTop) {
        return aTop < bTop ? -1 : 1;
    }
    const int c = aDigits.compare(bDigits);
    return (c > 0) - (c < 0);
}

// Increments a string of decimal digits by one unit in its last place.
void incrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits.insert(digits.begin(), '1');
}

}  // namespace

DecimalNumber DecimalNumber::fromInteger(std::int64_t value) {
    DecimalNumber d;
    d.negative_ = value < 0;
    const auto magnitude =
        d.negative_ ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    d.digits_ = std::to_string(magnitude);
    d.normalize();
    return d;
}

DecimalScan DecimalNumber::scan(QStringView text) {
    const qsizetype n = text.size();
    auto at = [&](qsizetype i) -> char16_t { return i < n ? text[i].unicode() : u'\0'; };

    DecimalScan result;
    qsizetype i = 0;
    while (isBlank(at(i))) {
        ++i;
    }
    DecimalNumber d;
    if (at(i) == u'+' || at(i) == u'-') {
        d.negative_ = at(i) == u'-';
        ++i;
    }
    bool anyDigit = false;
    std::int64_t fractionDigits = 0;
    while (isDigit(at(i))) {
        d.digits_.push_back(static_cast<char>(at(i)));
        anyDigit = true;
        ++i;
    }
    if (at(i) == u'.') {
        ++i;
        while (isDigit(at(i))) {
            d.digits_.push_back(static_cast<char>(at(i)));
            anyDigit = true;
            ++fractionDigits;
            ++i;
        }
    }
    if (!anyDigit) {
        return result;
    }
    // An "e" belongs to the number only when at least one exponent digit follows it.
    std::int64_t exponent = 0;
    if (at(i) == u'e' || at(i) == u'E') {
        qsizetype j = i + 1;
        bool negativeExponent = false;
        if (at(j) == u'+' || at(j) == u'-') {
            negativeExponent = at(j) == u'-';
            ++j;
        }
        if (isDigit(at(j))) {
            while (isDigit(at(j))) {
                exponent = std::min(kExponentCap, exponent * 10 + (at(j) - u'0'));
                ++j;
            }
            if (negativeExponent) {
                exponent = -exponent;
            }
            i = j;
        }
    }
    d.exponent_ = exponent - fractionDigits;
    d.normalize();

    result.value = std::move(d);
    result.found = true;
    while (isBlank(at(i))) {
        ++i;
    }
    result.wholeText = i == n;
    return result;
}

void DecimalNumber::normalize() {
    const auto first = digits_.find_first_not_of('0');
    if (first == std::string::npos) {
        digits_.clear();
        negative_ = false;
        exponent_ = 0;
        return;
    }
    digits_.erase(0, first);
    const auto last = digits_.find_last_not_of('0');
    exponent_ += static_cast<std::int64_t>(digits_.size() - 1 - last);
    digits_.erase(last + 1);
}

DecimalNumber DecimalNumber::operator-() const {
    DecimalNumber d = *this;
    d.negative_ = !d.negative_ && !d.isZero();
    return d;
}

DecimalNumber operator+(const DecimalNumber& a, const DecimalNumber& b) {
    if (a.isZero()) {
        return b;
    }
    if (b.isZero()) {
        return a;
    }
    const int magnitude = compareMagnitude(a.digits_, a.topPosition(), b.digits_, b.topPosition());
    const std::int64_t low = std::min(a.exponent_, b.exponent_);
    const std::int64_t high = std::max(a.topPosition(), b.topPosition());
    if (high - low > kMaxAdditionWidth) {
        return magnitude >= 0 ? a : b;
    }
    const DecimalNumber& larger = magnitude >= 0 ? a : b;
    const DecimalNumber& smaller = magnitude >= 0 ? b : a;

    // Little-endian digit vectors, index 0 at position `low`, one spare place for a carry.
    const auto width = static_cast<std::size_t>(high - low + 2);
    auto aligned = [&](const DecimalNumber& d) {
        std::vector<int> v(width, 0);
        const auto size = static_cast<std::int64_t>(d.digits_.size());
        for (std::int64_t k = 0; k < size; ++k) {
            v[static_cast<std::size_t>(d.exponent_ + (size - 1 - k) - low)] = d.digits_[k] - '0';
        }
        return v;
    };
    std::vector<int> x = aligned(larger);
    const std::vector<int> y = aligned(smaller);
    const int direction = larger.negative_ == smaller.negative_ ? 1 : -1;
    int carry = 0;
    for (std::size_t k = 0; k < width; ++k) {
        int digit = x[k] + direction * y[k] + carry;
        carry = 0;
        if (digit >= 10) {
            digit -= 10;
            carry = 1;
        } else if (digit < 0) {
            digit += 10;
            carry = -1;
        }
        x[k] = digit;
    }

    DecimalNumber sum;
    sum.negative_ = larger.negative_;
    sum.exponent_ = low;
    sum.digits_.reserve(width);
    for (auto it = x.rbegin(); it != x.rend(); ++it) {
        sum.digits_.push_back(static_cast<char>('0' + *it));
    }
    sum.normalize();
    return sum;
}

std::strong_ordering operator<=>(const DecimalNumber& a, const DecimalNumber& b) {
    if (a.negative_ != b.negative_) {
        return a.negative_ ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    int c = compareMagnitude(a.digits_, a.topPosition(), b.digits_, b.topPosition());
    if (a.negative_) {
        c = -c;
    }
    return c <=> 0;
}

DecimalNumber DecimalNumber::roundedHalfEven(int decimals) const {
    const std::int64_t lowestKept = -static_cast<std::int64_t>(decimals);
    if (isZero() || exponent_ >= lowestKept) {
        return *this;
    }
    const auto size = static_cast<std::int64_t>(digits_.size());
    const std::int64_t dropped = lowestKept - exponent_;
    DecimalNumber r;
    r.negative_ = negative_;
    r.exponent_ = lowestKept;
    bool up = false;
    // When every digit lies below the first dropped place, the value is under a tenth of a unit.
    if (dropped <= size) {
        r.digits_ = digits_.substr(0, static_cast<std::size_t>(size - dropped));
        const char first = digits_[static_cast<std::size_t>(size - dropped)];
        // digits_ ends in a non-zero digit, so any dropped digit after the first makes it more than half.
        if (first != '5' || dropped > 1) {
            up = first >= '5';
        } else {
            up = !r.digits_.empty() && (r.digits_.back() - '0') % 2 == 1;
        }
    }
    if (up) {
        incrementDigits(r.digits_);
    }
    r.normalize();
    return r;
}

std::int64_t DecimalNumber::plainLength() const {
    if (isZero()) {
        return 1;
    }
    const auto size = static_cast<std::int64_t>(digits_.size());
    const std::int64_t sign = negative_ ? 1 : 0;
    if (exponent_ >= 0) {
        return sign + size + exponent_;
    }
    const std::int64_t integerDigits = size + exponent_;
    return integerDigits > 0 ? sign + size + 1 : sign + 2 - integerDigits + size;
}

QString DecimalNumber::plainText() const {
    if (isZero()) {
        return QStringLiteral("0");
    }
    std::string s;
    s.reserve(static_cast<std::size_t>(plainLength()));
    if (negative_) {
        s.push_back('-');
    }
    const auto size = static_cast<std::int64_t>(digits_.size());
    if (exponent_ >= 0) {
        s += digits_;
        s.append(static_cast<std::size_t>(exponent_), '0');
    } else if (const std::int64_t integerDigits = size + exponent_; integerDigits > 0) {
        s.append(digits_, 0, static_cast<std::size_t>(integerDigits));
        s.push_back('.');
        s.append(digits_, static_cast<std::size_t>(integerDigits));
    } else {
        s += "0.";
        s.append(static_cast<std::size_t>(-integerDigits), '0');
        s += digits_;
    }
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

template <typename Real>
Real DecimalNumber::toReal() const {
    constexpr Real infinity = std::numeric_limits<Real>::infinity();
    const Real sign = negative_ ? Real(-1) : Real(1);
    // Well outside the range of the type: no need to hand the digits to the converter.
    constexpr std::int64_t reach = std::numeric_limits<Real>::max_exponent10 + 2;
    constexpr std::int64_t depth =
        -std::numeric_limits<Real>::min_exponent10 + std::numeric_limits<Real>::digits10 + 4;
    if (isZero() || topPosition() < -depth) {
        return Real(0);
    }
    if (topPosition() > reach) {
        return sign * infinity;
    }
    const std::string s = (negative_ ? "-" : "") + digits_ + "e" + std::to_string(exponent_);
    Real value{};
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (error == std::errc::result_out_of_range) {
        return topPosition() > 0 ? sign * infinity : Real(0);
    }
    return value;
}

double DecimalNumber::toDouble() const {
    return toReal<double>();
}
float DecimalNumber::toFloat() const {
    return toReal<float>();
}

std::optional<std::int64_t> DecimalNumber::toIntegerWithin(std::int64_t lowest, std::int64_t highest) const {
    if (isZero()) {
        return lowest <= 0 && 0 <= highest ? std::optional<std::int64_t>(0) : std::nullopt;
    }
    if (exponent_ < 0 || topPosition() > 17) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : digits_) {
        value = value * 10 + (c - '0');
    }
    for (std::int64_t k = 0; k < exponent_; ++k) {
        value *= 10;
    }
    if (negative_) {
        value = -value;
    }
    if (value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

}  // namespace kv
