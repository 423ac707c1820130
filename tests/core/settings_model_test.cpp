// The number rules of the calibration editor: what the boxes accept, what a commit leaves in them,
// what the buttons write and which bytes a save sends.
#include "core/calibration/calibration_rules.h"
#include "core/calibration/editing_rules.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace kv {
namespace {

struct NumberCase {
    QString text;
    bool numeric;
    double leading;
};

const std::vector<NumberCase>& numberCases() {
    static const std::vector<NumberCase> cases = {
        // Plain numbers and the forms the editor writes.
        {"255", true, 255},
        {"0", true, 0},
        {"12.5", true, 12.5},
        {"070", true, 70},
        {"+5", true, 5},
        {"-5", true, -5},
        {"-0", true, 0},
        {".5", true, 0.5},
        {"5.", true, 5},
        {"-.5", true, -0.5},
        // Blanks before and after.
        {" 7 ", true, 7},
        {"\t7\t", true, 7},
        {"  -3.25  ", true, -3.25},
        // Exponents.
        {"1e2", true, 100},
        {"1E+02", true, 100},
        {"25e-1", true, 2.5},
        {".5e1", true, 5},
        // Half-typed numbers: not numbers, read as far as they go.
        {"", false, 0},
        {" ", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {".", false, 0},
        {"-.", false, 0},
        {"1e", false, 1},
        {"1e+", false, 1},
        {"1e-", false, 1},
        {"e5", false, 0},
        {"1.2.3", false, 1.2},
        {"--1", false, 0},
        {"+-1", false, 0},
        {"- 5", false, 0},
        {"5 -", false, 5},
        {"12abc", false, 12},
        {"abc", false, 0},
        {"1e2.5", false, 100},
        // Forms no box accepts, whatever the locale.
        {"1,5", false, 1},
        {"1 000", false, 1},
        {"1_000", false, 1},
        {"$5", false, 0},
        {"5€", false, 5},
        {"0x1F", false, 0},
        {"&H1F", false, 0},
        {"1d2", false, 1},
        {"inf", false, 0},
        {"-Infinity", false, 0},
        {"nan", false, 0},
        {"\u22125", false, 0},       // a minus sign that is not "-"
        {"\uFF11\uFF12", false, 0},  // full-width digits
        {"\u0661\u0662", false, 0},  // Arabic-Indic digits
        {"5\u00A0", false, 5},       // a no-break space is not a blank
    };
    return cases;
}

void expectNumberRules() {
    for (const auto& c : numberCases()) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(isNumeric(c.text), c.numeric);
        EXPECT_EQ(leadingValue(c.text), c.leading);
        const auto whole = wholeTextValue(c.text);
        EXPECT_EQ(whole.has_value(), c.numeric);
        if (whole) {
            EXPECT_EQ(*whole, leadingValue(c.text));
        }
    }
}

TEST(NumberRules, NumericTestLeadingValueAndWholeTextValue) {
    expectNumberRules();
}

// The system locale must not change what a box accepts: no decimal comma, no grouping.
class NumberRulesUnderLocale : public testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        savedQtLocale_ = QLocale();
        savedCLocale_ = std::setlocale(LC_ALL, nullptr);
        const std::string name = GetParam();
        QLocale::setDefault(QLocale(QString::fromStdString(name)));
        for (const std::string& candidate : {name + ".UTF-8", name + ".utf8", name}) {
            if (std::setlocale(LC_ALL, candidate.c_str()) != nullptr) {
                systemLocaleSet_ = true;
                break;
            }
        }
        if (!systemLocaleSet_) {
            RecordProperty("c_locale", "not installed; Qt default locale only");
        }
    }
    void TearDown() override {
        QLocale::setDefault(savedQtLocale_);
        std::setlocale(LC_ALL, savedCLocale_.c_str());
    }

    bool systemLocaleSet_ = false;

  private:
    QLocale savedQtLocale_;
    std::string savedCLocale_;
};

TEST_P(NumberRulesUnderLocale, ReadAndWriteNumbersAsInTheCLocale) {
    ASSERT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    expectNumberRules();
    EXPECT_EQ(numberText(12.5), "12.5");
    EXPECT_EQ(numberText(1234567), "1234567");
    EXPECT_EQ(roundedText(u"0.25", 1), "0.2");
    EXPECT_EQ(committedText(u"15.5", u"10", u"70", AxisOrder::NotDecreasing, 255), "16");
    EXPECT_EQ(delayStepText(u"2", true), "2.5");
    EXPECT_EQ(singleValue(u"2,5"), 2.0f);
    EXPECT_EQ(delayByte(u"2,5"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(GermanAndFrench, NumberRulesUnderLocale, testing::Values("de_DE", "fr_FR"));

TEST(NumberRules, NumbersBeyondAnyBoxStillReadWithoutOverflow) {
    EXPECT_TRUE(isNumeric(u"1e999999999999999999999"));
    EXPECT_EQ(leadingValue(u"1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(leadingValue(u"-1e400"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(wholeTextValue(u"1e-400"), 0.0);
    EXPECT_EQ(leadingValue(u"4.9406564584124654e-324"), std::numeric_limits<double>::denorm_min());
    EXPECT_EQ(leadingValue(QString(5000, u'0') + "1"), 1.0);
    EXPECT_EQ(leadingValue(QStringLiteral("0.") + QString(5000, u'0') + "1e5001"), 1.0);
}

TEST(NumberRules, RoundsTheDecimalValueTheTextShowsHalvesToEven) {
    struct Case {
        const char16_t* text;
        int decimals;
        std::optional<QString> rounded;
    };
    const Case cases[] = {
        {u"12.5", 0, "12"},
        {u"13.5", 0, "14"},
        {u"0.4", 0, "0"},
        {u"0.5", 0, "0"},
        {u"1.5", 0, "2"},
        {u"-2.5", 0, "-2"},
        {u"-0.4", 0, "0"},
        {u"070", 0, "70"},
        {u" 9.5 ", 0, "10"},
        {u"99.5", 0, "100"},
        {u"12.51", 0, "13"},
        {u"1e2", 0, "100"},
        {u"5e-1", 0, "0"},
        {u"12.500000000000000001", 0, "13"},  // a double would read 12.5 and give 12
        {u"0.25", 1, "0.2"},
        {u"0.35", 1, "0.4"},
        {u"-0.25", 1, "-0.2"},
        {u"0.05", 1, "0"},
        {u"0.15", 1, "0.2"},
        {u"2.675", 2, "2.68"},  // a double holds 2.67499999...
        {u"1.005", 2, "1"},
        {u"2.5", 3, "2.5"},
        {u"abc", 0, std::nullopt},
        {u"", 0, std::nullopt},
        {u"1e99999", 0, std::nullopt},  // more digits than a box holds
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QString::fromUtf16(c.text).toStdString() + " to " + std::to_string(c.decimals));
        EXPECT_EQ(roundedText(c.text, c.decimals), c.rounded);
    }
}

TEST(NumberRules, NumberTextIsPlainDecimal) {
    const std::pair<double, const char*> cases[] = {
        {255, "255"},
        {0, "0"},
        {-0.0, "0"},
        {0.5, "0.5"},
        {12.5, "12.5"},
        {2, "2"},
        {127.5, "127.5"},
        {-3.25, "-3.25"},
        {0.1, "0.1"},
        {1e-7, "0.0000001"},
        {1e21, "1000000000000000000000"},
        {std::numeric_limits<double>::infinity(), ""},
        {std::nan(""), ""},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(numberText(value), text) << value;
    }
}

TEST(NumberRules, DelayComparesInSinglePrecision) {
    EXPECT_EQ(singleValue(u"2.50"), 2.5f);
    EXPECT_EQ(singleValue(u"2.5"), singleValue(u"2.50"));
    EXPECT_EQ(singleValue(u" 2.5abc"), 2.5f);
    EXPECT_EQ(singleValue(u"0.1"), 0.1f);
    EXPECT_EQ(singleValue(u"127.5"), 127.5f);
    EXPECT_EQ(singleValue(u"Yes"), 0.0f);
    EXPECT_EQ(singleValue(u""), 0.0f);
    EXPECT_NE(singleValue(u"2.4"), 2.5f);
}

TEST(NumberRules, ComparesLeadingValuesExactly) {
    EXPECT_EQ(compareLeadingValues(u"300", u"120"), 1);
    EXPECT_EQ(compareLeadingValues(u"070", u"70"), 0);
    EXPECT_EQ(compareLeadingValues(u"-5", u"0"), -1);
    EXPECT_EQ(compareLeadingValues(u"", u"0"), 0);
    EXPECT_EQ(compareLeadingValues(u"0.30000000000000001", u"0.3"), 1);  // equal as doubles
    EXPECT_EQ(compareLeadingValues(u"1e2", u" 100 "), 0);
    EXPECT_EQ(compareLeadingValues(u"-1e3", u"-999"), -1);
}

TEST(SaveBytes, GridTextsEncodeToOneByte) {
    const std::pair<const char16_t*, std::optional<int>> cases[] = {
        {u"255", 255},
        {u"0", 0},
        {u"12.5", 12},
        {u"13.5", 14},
        {u" 7 ", 7},
        {u"1e2", 100},
        {u"-0.4", 0},
        {u"-0.5", 0},
        {u"255.4", 255},
        {u"255.5", std::nullopt},
        {u"256", std::nullopt},
        {u"-1", std::nullopt},
        {u"", std::nullopt},
        {u"abc", std::nullopt},
        {u"1e999", std::nullopt},
    };
    for (const auto& [text, byte] : cases) {
        SCOPED_TRACE(QString::fromUtf16(text).toStdString());
        const auto encoded = gridByte(text);
        EXPECT_EQ(encoded.has_value(), byte.has_value());
        if (encoded && byte) {
            EXPECT_EQ(*encoded, *byte);
        }
    }
}

TEST(SaveBytes, DelayTextEncodesAsHalfMinutes) {
    const std::pair<const char16_t*, std::optional<int>> cases[] = {
        {u"2.5", 5},
        {u"2", 4},
        {u"2.25", 4},
        {u"2.75", 6},
        {u"2.3", 5},
        {u"0", 0},
        {u"127.5", 255},
        {u"-0.25", 0},
        {u"128", std::nullopt},
        {u"-0.5", std::nullopt},
        {u"Yes", std::nullopt},
        {u"", std::nullopt},
        {u"2,5", std::nullopt},
    };
    for (const auto& [text, byte] : cases) {
        SCOPED_TRACE(QString::fromUtf16(text).toStdString());
        const auto encoded = delayByte(text);
        EXPECT_EQ(encoded.has_value(), byte.has_value());
        if (encoded && byte) {
            EXPECT_EQ(*encoded, *byte);
        }
    }
}

TEST(SaveRefusal, NamesTheFirstFieldTheDeviceWouldGetWrong) {
    auto fix = [](const char* start) {
        return QString(start) + " It must be corrected before it can be saved to the KestroVar.";
    };
    const QString delay =
        "The Startup Time Delay is \"128\". It must be a number of minutes from 0 to 127.5 "
        "before it can be saved to the KestroVar.";
    const std::pair<void (*)(CalibrationTexts&), std::optional<QString>> cases[] = {
        {[](auto&) {}, std::nullopt},
        {[](auto& t) { t.matrix[4] = "12.5"; }, std::nullopt},  // sent as 12, as the commit makes it
        {[](auto& t) { t.col[4] = "20"; },
         fix("The MCT °F axis value 5 is 20, below value 4 (120). The editor would make it 120.")},
        {[](auto& t) { t.col[1] = "300"; },
         fix("The MCT °F axis value 2 is 300, above value 3 (70). The editor would make it 70.")},
        {[](auto& t) { t.row[3] = "20"; },  // the box out of order with those above it is named
         fix("The Dew point °F axis value 5 is 25, above value 4 (20). The editor would make it 20.")},
        {[](auto& t) { t.row[0] = "100.6"; },
         fix("The Dew point °F axis value 1 is 100.6, above 100. The editor would make it 100.")},
        {[](auto& t) { t.matrix[6] = "-1"; },
         fix("The table cell in row 2, column 2 is -1, below 0. The editor would make it 0.")},
        {[](auto& t) { t.col[4] = "20", t.matrix[29] = "256"; },
         fix("The table cell in row 6, column 5 is 256, above 255. The editor would make it 255.")},
        {[](auto& t) { t.col[4] = "20", t.row[5] = "cold"; },
         "The Dew point °F axis value 6 is \"cold\". It must be a number from 0 to 100 before it can be "
         "saved to the KestroVar."},
        {[](auto& t) { t.active = "yes"; },
         "The Humidity Correction Active setting is \"yes\". It must be \"Yes\" or \"No\" before it can be "
         "saved to the KestroVar."},
        {[](auto& t) { t.active = "1", t.delay = "128"; }, delay},
    };
    for (const auto& [edit, refusal] : cases) {
        CalibrationTexts texts{
            {"10", "20", "70", "120", "170"}, {"100", "75", "65", "50", "25", "0"}, {}, "3", "Yes"};
        for (int k = 0; k < 30; ++k)
            texts.matrix[k] = QString::number(k);
        edit(texts);
        EXPECT_EQ(saveRefusal(texts), refusal);
    }
}

TEST(CommitRule, OrdersThenLimitsThenMakesAnInteger) {
    constexpr auto Col = AxisOrder::NotDecreasing;
    constexpr auto Row = AxisOrder::NotIncreasing;
    constexpr auto Cell = AxisOrder::None;
    struct Case {
        const char* what;
        const char16_t* text;
        const char16_t* previous;
        const char16_t* next;
        AxisOrder order;
        int limit;
        const char* committed;
    };
    const Case cases[] = {
        // Col holds 10, 20, 70, 120, 170.
        {"Col(2) out of order and out of range", u"300", u"20", u"120", Col, 255, "120"},
        {"Col(0) negative", u"-5", u"", u"20", Col, 255, "0"},
        {"Col(1) half up to even", u"15.5", u"10", u"70", Col, 255, "16"},
        {"Col(1) half down to even", u"20.5", u"10", u"70", Col, 255, "20"},
        {"Col(1) below its left neighbour", u"5", u"10", u"70", Col, 255, "10"},
        {"Col(4) above the limit", u"300", u"120", u"", Col, 255, "255"},
        {"Col equal to a neighbour", u"70", u"20", u"70", Col, 255, "70"},
        {"Col(2) next to an empty right neighbour", u"300", u"20", u"", Col, 255, "255"},
        {"Col(2) next to an empty left neighbour", u"5", u"", u"120", Col, 255, "5"},
        {"Col(2) fraction beyond its neighbour", u"120.4", u"20", u"120", Col, 255, "120"},
        {"leading zero", u"070", u"20", u"120", Col, 255, "70"},
        {"exponent", u"1e2", u"20", u"120", Col, 255, "100"},
        {"blanks", u" 7 ", u"", u"20", Col, 255, "7"},
        // Row holds 100, 75, 65, 50, 25, 0.
        {"Row(0) above the limit", u"150", u"", u"75", Row, 100, "100"},
        {"Row(2) above its upper neighbour", u"80", u"75", u"50", Row, 100, "75"},
        {"Row(3) below its lower neighbour", u"20", u"65", u"25", Row, 100, "25"},
        {"Row(3) in order", u"30", u"65", u"25", Row, 100, "30"},
        {"Row(5) negative", u"-1", u"25", u"", Row, 100, "0"},
        {"Row(0) half to even", u"99.5", u"", u"75", Row, 100, "100"},
        // The table.
        {"cell above the limit", u"300", u"", u"", Cell, 255, "255"},
        {"cell negative", u"-3", u"", u"", Cell, 255, "0"},
        {"cell fraction under a half", u"0.4", u"", u"", Cell, 255, "0"},
        {"cell far above the limit", u"1e999999999", u"", u"", Cell, 255, "255"},
        {"cell far below zero", u"-1e999999999", u"", u"", Cell, 255, "0"},
        {"cell tiny", u"1e-999999999", u"", u"", Cell, 255, "0"},
        {"cell minus zero", u"-0", u"", u"", Cell, 255, "0"},
        {"cells ignore neighbours", u"300", u"10", u"20", Cell, 255, "255"},
        {"empty box", u"", u"20", u"120", Col, 255, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(committedText(c.text, c.previous, c.next, c.order, c.limit), c.committed);
    }
}

TEST(TableButtons, MoveEachCellByTenWithinTheByteRange) {
    const std::tuple<const char16_t*, int, std::optional<QString>> cases[] = {
        {u"", 10, "10"},
        {u"", -10, "0"},
        {u"250", 10, "255"},
        {u"255", 10, "255"},
        {u"245", 10, "255"},
        {u"5", -10, "0"},
        {u"10", -10, "0"},
        {u"12.5", 10, "22.5"},
        {u"12.3", -10, "2.3"},  // 12.3 - 10 in doubles shows as 2.3000000000000007
        {u"0.1", 10, "10.1"},
        {u"-20", 10, "-10"},   // "+" has no lower limit
        {u"300", -10, "290"},  // "-" has no upper limit
        {u"1e2", 10, "110"},
        {u" 7 ", 10, "17"},
        {u"abc", 10, "10"},
        {u"1e999999999", 10, "255"},
        {u"1e999999999", -10, std::nullopt},
    };
    for (const auto& [cell, step, result] : cases) {
        SCOPED_TRACE(QString::fromUtf16(cell).toStdString() + " " + std::to_string(step));
        EXPECT_EQ(tableStepText(cell, step), result);
    }
}

TEST(DelayButtons, MoveByHalfAMinuteBetweenZeroAndThirty) {
    const std::tuple<const char16_t*, bool, std::optional<QString>> cases[] = {
        {u"", true, "0.5"},     {u"", false, "0"},     {u"0", true, "0.5"},
        {u"0", false, "0"},     {u"0.5", false, "0"},  {u"2", true, "2.5"},
        {u"2.5", true, "3"},    {u"29.5", true, "30"}, {u"30", true, "30"},
        {u"30", false, "29.5"}, {u"40", true, "30"},   {u"40", false, "39.5"},
        {u"2.3", true, "2.8"},  {u"0.2", false, "0"},  {u"2.50", false, "2"},
        {u"yes", true, "0.5"},  {u"2,5", false, "0"},  {u"1e999999999", false, std::nullopt},
    };
    for (const auto& [delay, up, result] : cases) {
        SCOPED_TRACE(QString::fromUtf16(delay).toStdString() + (up ? " +" : " -"));
        EXPECT_EQ(delayStepText(delay, up), result);
    }
}

}  // namespace
}  // namespace kv
