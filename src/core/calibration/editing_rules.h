// The calibration values live only as the texts of the editor boxes. These are the number rules
// the editor, the device link, the device transfers and the .cal file share. They read numbers
// the same way under every system locale: "." is the only decimal point.
#pragma once

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace kv {

// ---- numbers in texts -----------------------------------------------------------------------

// True when the whole text, blanks (spaces, tabs) before and after aside, is one decimal number:
// an optional sign, digits with an optional ".", an optional exponent ("e" or "E", optional sign,
// digits). "" and "-" and "." are not numbers; neither are "1,5", "1 000", "0x1F", "&H1F", "inf".
bool isNumeric(QStringView text);

// The number at the start of the text, leading blanks skipped, read as far as it goes: "12abc"
// gives 12, "1e" gives 1, "1.2.3" gives 1.2. 0 when the text does not begin with a number.
double leadingValue(QStringView text);

// The number a numeric text reads as; nothing for any other text.
std::optional<double> wholeTextValue(QStringView text);

// The leading value in single precision, the precision of the device's delay copy: "2.50" and
// "2.5" give the same float.
float singleValue(QStringView text);

// Compares the leading values of two texts exactly: negative, zero or positive.
int compareLeadingValues(QStringView a, QStringView b);

// A numeric text's value rounded to `decimals` places (0 for an integer), a half going to the even
// neighbour, as number text: "12.5" gives "12", "13.5" "14", and "0.25" to one place "0.2".
// Nothing for a text that is not a number or whose result would not fit in a text box.
std::optional<QString> roundedText(QStringView text, int decimals = 0);

// A value as the editor writes it: "." as the point, a zero before it, no trailing zeros and no
// exponent (255, 0, 0.5, 12.5). Empty for an infinity or NaN.
QString numberText(double value);

// The longest text a box holds (QLineEdit's maximum length).
inline constexpr qsizetype kMaxBoxText = 32767;

// ---- the bytes of the settings write ------------------------------------------------------

// The byte a Col, Row or Matrix text is sent as: its value made an integer, halves to even.
// Nothing when the text is not a number or the integer lies outside 0..255.
std::optional<std::uint8_t> gridByte(QStringView text);

// The byte a startup-delay text in minutes is sent as: twice its value made an integer, halves to
// even ("2.5" gives 5, "2.25" gives 4). Nothing when it is not a number or outside 0..255.
std::optional<std::uint8_t> delayByte(QStringView text);

// ---- editing rules --------------------------------------------------------------------------

enum class AxisOrder {
    None,           // the table cells
    NotDecreasing,  // Col, left to right
    NotIncreasing,  // Row, top to bottom
};

// What the commit of a box leaves in it. `previous` and `next` are the texts of the neighbours at
// index - 1 and index + 1, empty where there is none; an empty neighbour is not a value and is
// ignored. An empty text stays empty; any other text ends as an integer text in 0..upperLimit:
// first brought into order (taking a neighbour's text), then limited, then made an integer.
QString committedText(QStringView text, QStringView previous, QStringView next, AxisOrder order,
                      int upperLimit);

// A table cell after "+" (step 10) or "-" (step -10): an empty cell counts as 0; the result stops at
// 255 going up and at 0 going down. Nothing when the result would not fit in a text box.
std::optional<QString> tableStepText(QStringView cell, int step);

// The startup delay after "+" (up) or "-": half a minute, stopping at 30 going up and at 0 going
// down. An empty text, or one that is not a number, gives "0.5" going up and "0" going down.
// Nothing when the result would not fit in a text box.
std::optional<QString> delayStepText(QStringView delay, bool up);

}  // namespace kv
