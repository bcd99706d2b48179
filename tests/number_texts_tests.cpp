// Typed values as the windows read them: the leading decimal number, as strtod reads it, whatever
// the locale.
#include "experiments/number_texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace {

using zelkor::experiments::LeadingNumber;
using zelkor::experiments::ReadLeadingNumber;

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(LeadingNumber, ReadsTheLeadingDecimalNumber)
{
    const std::string tinyWithoutExponent = "0." + std::string(400, '0') + "1";
    const std::string hugeWithNegativeExponent = "1" + std::string(400, '0') + "e-50";
    const struct {
        std::string text;
        std::optional<double> number;
    } cases[] = {
        {"1.5", 1.5},
        {" \t-2e3abc", -2000.0},
        {"+.5", 0.5},
        {"1.", 1.0},
        {".5e", 0.5},
        {"3,5", 3.0},   // no locale's decimal comma
        {"0x1p3", 0.0},  // decimal only: the 0 before the x
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"+-1", std::nullopt},
        {"- 1", std::nullopt},
        {"1e400", kInf},
        {"-1e400", -kInf},
        {"1e-400", 0.0},
        // Out of range both ways with the exponent's sign pointing the other way (found by fuzzing:
        // these read as infinity and 0 before).
        {tinyWithoutExponent, 0.0},
        {"-" + tinyWithoutExponent, -0.0},
        {hugeWithNegativeExponent, kInf},
        {"4.9e-324", 4.9e-324},
    };
    for (const auto& c : cases) {
        const std::optional<double> got = LeadingNumber(QString::fromStdString(c.text));
        ASSERT_EQ(got.has_value(), c.number.has_value()) << c.text;
        EXPECT_EQ(ReadLeadingNumber(QString::fromStdString(c.text)), c.number.value_or(0.0)) << c.text;
        if (got) {
            EXPECT_EQ(*got, *c.number) << c.text;
            EXPECT_EQ(std::signbit(*got), std::signbit(*c.number)) << c.text;
        }
    }
    EXPECT_TRUE(std::isnan(ReadLeadingNumber(QStringLiteral("nan"))));
}

}  // namespace
