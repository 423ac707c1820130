// An exact decimal number, so that rounding and the button steps work on the value a text shows
// (0.25, 12.3) rather than on its nearest binary double.
#pragma once

#include <QString>
#include <QStringView>

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace kv {

struct DecimalScan;

class DecimalNumber {
  public:
    DecimalNumber() = default;  // zero
    static DecimalNumber fromInteger(std::int64_t value);

    // The number at the start of a text: leading blanks skipped, an optional sign, digits with an
    // optional ".", an optional exponent, read as far as it goes.
    static DecimalScan scan(QStringView text);

    bool isZero() const { return digits_.empty(); }
    bool isNegative() const { return negative_; }

    DecimalNumber operator-() const;
    friend DecimalNumber operator+(const DecimalNumber& a, const DecimalNumber& b);
    friend DecimalNumber operator-(const DecimalNumber& a, const DecimalNumber& b) { return a + -b; }
    friend std::strong_ordering operator<=>(const DecimalNumber& a, const DecimalNumber& b);
    friend bool operator==(const DecimalNumber& a, const DecimalNumber& b) = default;

    // Rounded to a multiple of 10^-decimals (decimals >= 0), a half going to the even neighbour.
    DecimalNumber roundedHalfEven(int decimals) const;

    // The number of characters plainText() would produce, computed without producing them.
    std::int64_t plainLength() const;
    // "." as the point, a zero before it, no trailing zeros, no exponent, no "-0".
    QString plainText() const;

    // Correctly rounded; out-of-range magnitudes give an infinity or zero.
    double toDouble() const;
    float toFloat() const;
    // The value when it is an integer between the two bounds.
    std::optional<std::int64_t> toIntegerWithin(std::int64_t lowest, std::int64_t highest) const;

  private:
    void normalize();
    // Position of the most significant digit: 0 for units, 1 for tens, -1 for tenths.
    std::int64_t topPosition() const { return exponent_ + static_cast<std::int64_t>(digits_.size()) - 1; }
    template <typename Real>
    Real toReal() const;

    bool negative_ = false;
    std::string digits_;         // significant digits, no leading or trailing zeros; empty for zero
    std::int64_t exponent_ = 0;  // value = digits_ × 10^exponent_
};

struct DecimalScan {
    DecimalNumber value;     // zero when the text does not begin with a number
    bool found = false;      // the text begins with a number
    bool wholeText = false;  // only blanks follow it
};

}  // namespace kv
