#include <gtest/gtest.h>

#include "upload/ScriptText.h"

namespace pellwick {
namespace {

using Lines = std::vector<std::string>;

TEST(ScriptTextTest, AllThreeLineBreaksSplitAndAFinalBreakAddsNoLine) {
    EXPECT_EQ(ScriptText::SplitLines(""), Lines{});
    EXPECT_EQ(ScriptText::SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(ScriptText::SplitLines("a\r\n"), Lines{"a"});
    EXPECT_EQ(ScriptText::SplitLines("\r\n"), Lines{""});
    // LF CR is two breaks (an empty line between), CR CR too.
    EXPECT_EQ(ScriptText::SplitLines("a\n\rb\r\rc"), (Lines{"a", "", "b", "", "c"}));
    // Lines are used as stored: blanks and tabs stay.
    EXPECT_EQ(ScriptText::SplitLines(" _DY 5 \t\n"), Lines{" _DY 5 \t"});
}

TEST(ScriptTextTest, CommandIsSecondAndThirdCharacterUpperCased) {
    EXPECT_EQ(ScriptText::CommandOf("_dy 5"), "DY");
    EXPECT_EQ(ScriptText::CommandOf("_DYNAMIC 3"), "DY");
    EXPECT_EQ(ScriptText::CommandOf("_D"), "");
    EXPECT_EQ(ScriptText::CommandOf("_\xe4x"), "\xe4X"); // only a..z change case
    EXPECT_TRUE(ScriptText::IsCommandLine("_x"));
    EXPECT_FALSE(ScriptText::IsCommandLine(" _DY 5"));
    EXPECT_FALSE(ScriptText::IsCommandLine(""));
}

TEST(ScriptTextTest, ArgumentIsEverythingAfterTheFirstBlankOrTheWholeLine) {
    EXPECT_EQ(ScriptText::ArgumentOf("_LF"), "_LF");
    EXPECT_EQ(ScriptText::ArgumentOf("_LF  a.bin"), " a.bin");
    EXPECT_EQ(ScriptText::ArgumentOf("_LA 0002 0000 "), "0002 0000 ");
    EXPECT_EQ(ScriptText::ArgumentOf("_LA\ta b"), "b");
}

TEST(ScriptTextTest, CommandStringTakesLMinusTwoCharactersAfterTheFirstQuote) {
    EXPECT_EQ(ScriptText::ProcessCmdString("\"ATZ\""), "ATZ");
    EXPECT_EQ(ScriptText::ProcessCmdString(" \t\"ATZ\"\r\n"), "ATZ");
    EXPECT_EQ(ScriptText::ProcessCmdString(std::string("\0\"A\"\0", 5)), "A");
    EXPECT_EQ(ScriptText::ProcessCmdString("ABC"), "A");
    EXPECT_EQ(ScriptText::ProcessCmdString("\"\""), "");
    EXPECT_EQ(ScriptText::ProcessCmdString("\""), "");
    EXPECT_EQ(ScriptText::ProcessCmdString(""), "");
    // Text before the quote shortens what is left after it.
    EXPECT_EQ(ScriptText::ProcessCmdString("xy\"ABCD\""), "ABCD\"");
    EXPECT_EQ(ScriptText::ProcessCmdString("\"A"), "");
}

TEST(ScriptTextTest, CaretEscapesGiveControlCodes) {
    const struct {
        const char* Escape;
        char Code;
    } table[] = {{"^M", 13}, {"^m", 13}, {"^J", 10}, {"^[", 27},
                 {"^@", 0},  {"^^", 30}, {"^z", 26}, {"^?", static_cast<char>(255)}};
    for (const auto& row : table) {
        EXPECT_EQ(ScriptText::ProcessCmdString(std::string("\"") + row.Escape + "\""),
                  std::string(1, row.Code))
            << row.Escape;
    }
    EXPECT_EQ(ScriptText::ProcessCmdString("\"AT^M\""), "AT\r");
    EXPECT_EQ(ScriptText::ProcessCmdString("\"X^\""), "X");
    EXPECT_EQ(ScriptText::ProcessCmdString("\"a^@b^M^J\""), std::string("a\0b\r\n", 5));
}

TEST(ScriptTextTest, IntegersAreOptionallySignedDecimalsWithin32Bits) {
    EXPECT_EQ(ScriptText::ParseInteger("5"), 5);
    EXPECT_EQ(ScriptText::ParseInteger(" -5 "), -5);
    EXPECT_EQ(ScriptText::ParseInteger("+0012"), 12);
    EXPECT_EQ(ScriptText::ParseInteger("2147483647"), 2147483647);
    EXPECT_EQ(ScriptText::ParseInteger("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "_DY", "5x", "0x10", "$10", "1 2", "-", "2147483648",
                            "-2147483649", "99999999999999999999"}) {
        EXPECT_FALSE(ScriptText::ParseInteger(bad).has_value()) << bad;
    }
}

TEST(ScriptTextTest, GaugeRoundsHalvesToEvenAddsTwoAndStopsAt100) {
    EXPECT_EQ(ScriptText::GaugePercent(1, 3), 35);
    EXPECT_EQ(ScriptText::GaugePercent(2, 3), 69);
    EXPECT_EQ(ScriptText::GaugePercent(3, 3), 100);
    EXPECT_EQ(ScriptText::GaugePercent(1, 100), 3);
    EXPECT_EQ(ScriptText::GaugePercent(97, 100), 99);
    EXPECT_EQ(ScriptText::GaugePercent(98, 100), 100);
    EXPECT_EQ(ScriptText::GaugePercent(1, 8), 14);  // 12.5 -> 12
    EXPECT_EQ(ScriptText::GaugePercent(3, 8), 40);  // 37.5 -> 38
    EXPECT_EQ(ScriptText::RoundHalfEven(-2.5), -2); // halves go to the even side both ways
    EXPECT_EQ(ScriptText::RoundHalfEven(2.5000001), 3);
}

} // namespace
} // namespace pellwick
