#include "serial/errors/ErrorMessage.h"
#include "serial/errors/TVaxoStringResource.h"

#include "StringTableBlob.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace pellwick {
namespace {

using test::MakeStringTable;
using test::RegisteredTable;

TEST(ErrorMessageTest, TableTextWinsOverSystemTextAndSignIsIgnored) {
    // errno 2 has a C library text of its own; the table's run-time text is used instead.
    EXPECT_EQ(ErrorMessage(2), "File not found");
    EXPECT_EQ(ErrorMessage(-2), "File not found");
    EXPECT_EQ(ErrorMessage(0), "OK");
    EXPECT_EQ(ErrorMessage(-2011), "The ComNumber property of the TVaxoComPort has not been set");
    EXPECT_EQ(ErrorMessage(155), "Bad drive request structure length");
}

TEST(ErrorMessageTest, FallsBackToCleanedSystemText) {
    const char* system = strerrordesc_np(13);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(ErrorMessage(-13), CleanSystemText(system));
    EXPECT_FALSE(ErrorMessage(13).empty());
}

TEST(ErrorMessageTest, IdInNeitherSourceIsEmpty) {
    // The C library has no errno this high; its "Unknown error N" does not count as a text.
    ASSERT_EQ(strerrordesc_np(4999), nullptr);
    EXPECT_EQ(ErrorMessage(4999), "");
    EXPECT_EQ(ErrorMessage(-4999), "");
    EXPECT_EQ(SystemErrorText(4999), "");
    EXPECT_EQ(ErrorMessage(INT_MIN), "");
    EXPECT_EQ(SystemErrorText(-1), "");
}

TEST(ErrorMessageTest, ControlCharactersBecomeSpacesAndSpaceRunsFold) {
    EXPECT_EQ(CleanSystemText("Line one.\r\nLine two."), "Line one. Line two.");
    EXPECT_EQ(CleanSystemText("a \r\n\t  b\x01"), "a b ");
    EXPECT_EQ(CleanSystemText("plain text"), "plain text");
    EXPECT_EQ(CleanSystemText(""), "");
    EXPECT_EQ(CleanSystemText("\x7f\xe9"), "\x7f\xe9") << "only codes below 32 are control";
}

TEST(ErrorMessageTest, MessagesAreCutTo255Characters) {
    const std::u16string longText(300, u'x');
    const std::u16string exact(255, u'y');
    RegisteredTable table("TEST_LONG_TEXTS", MakeStringTable({{7, exact}, {9, longText}}));
    TVaxoStringResource reader(table.Name());
    EXPECT_EQ(ErrorMessage(reader, -9), std::string(255, 'x'));
    EXPECT_EQ(ErrorMessage(reader, 7), std::string(255, 'y'));
    // Ids the table lacks fall back to the system text, whatever table is used.
    EXPECT_EQ(ErrorMessage(reader, 13), SystemErrorText(13));
}

} // namespace
} // namespace pellwick
