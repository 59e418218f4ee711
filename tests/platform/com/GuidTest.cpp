#include "platform/com/Guid.h"

#include <gtest/gtest.h>

namespace {

const GUID Known(0x6C736DB1, 0xBD94, 0x11D0, 0x8A, 0x23, 0x00, 0xAA, 0x00, 0xB5, 0x8E, 0x10);

TEST(GuidTest, FormatsTheUpperCaseRegistryForm)
{
    EXPECT_EQ(GUIDToString(Known), QStringLiteral("{6C736DB1-BD94-11D0-8A23-00AA00B58E10}"));
    EXPECT_EQ(GUIDToString(GUID()), QStringLiteral("{00000000-0000-0000-0000-000000000000}"));
}

TEST(GuidTest, ParsesTheRegistryFormInAnyCase)
{
    for (const char *text :
         {"{6C736DB1-BD94-11D0-8A23-00AA00B58E10}", "{6c736db1-bd94-11d0-8a23-00aa00b58e10}",
          "{6c736DB1-bd94-11D0-8A23-00aa00B58E10}"}) {
        const std::optional<GUID> parsed = StringToGUID(QString::fromLatin1(text));
        ASSERT_TRUE(parsed.has_value()) << text;
        EXPECT_EQ(*parsed, Known) << text;
    }
    const GUID fresh = CreateGUID();
    EXPECT_EQ(StringToGUID(GUIDToString(fresh)), fresh);
}

TEST(GuidTest, RejectsEverythingButTheRegistryForm)
{
    for (const char *text : {
             "",
             "{}",
             "6C736DB1-BD94-11D0-8A23-00AA00B58E10",    // no braces
             "{6C736DB1-BD94-11D0-8A23-00AA00B58E10",   // closing brace missing
             "(6C736DB1-BD94-11D0-8A23-00AA00B58E10)",  // other brackets
             "{6C736DB1BD9411D08A2300AA00B58E10}",      // no dashes
             "{6C736DB1-BD94-11D0-8A2300AA-00B58E10}",  // dashes misplaced
             "{6C736DB1-BD94-11D0-8A23-00AA00B58E1}",   // one digit short
             "{6C736DB1-BD94-11D0-8A23-00AA00B58E100}", // one digit too many
             "{6C736DB1-BD94-11D0-8A23-00AA00B58E1G}",  // not hexadecimal
             " {6C736DB1-BD94-11D0-8A23-00AA00B58E10}", // surrounding blanks
             "{6C736DB1-BD94-11D0-8A23-00AA00B58E10}\n",
         })
        EXPECT_FALSE(StringToGUID(QString::fromLatin1(text)).has_value()) << '"' << text << '"';
}

TEST(GuidTest, CreatedGuidsAreDistinct)
{
    const GUID a = CreateGUID();
    EXPECT_FALSE(a.isNull());
    EXPECT_NE(a, CreateGUID());
}

} // namespace
