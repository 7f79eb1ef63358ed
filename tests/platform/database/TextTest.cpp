// The text handling under the database layer: UTF-8 <-> UTF-16 for the wide
// ODBC calls, and the statement and parameter lists.
#include <gtest/gtest.h>

#include "platform/database/Database.h"
#include "platform/database/WideText.h"

namespace tarnwick {
namespace {

TEST(WideText, RoundTripsEveryPlane) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"", u""},
      {"DROP table lib_opac_ver\r\n", u"DROP table lib_opac_ver\r\n"},
      {"p;}=\xE5\xAF\x86", u"p;}=\u5BC6"},                // 密
      {"\xC3\xA9", u"\u00E9"},                          // two-byte form
      {"\xF0\x9F\x98\x80", u"\U0001F600"},              // surrogate pair
      {"\xEF\xBF\xBF", u"\uFFFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(WideText, StopsAtTheFirstZeroByte) {
  EXPECT_EQ(Utf8ToUtf16(std::string("ab\0cd", 5)), u"ab");
  EXPECT_EQ(Utf8ToUtf16(std::string("\0x", 2)), u"");
}

TEST(WideText, RejectsMalformedUtf8) {
  const std::string bad[] = {
      "\x80",              // stray continuation byte
      "\xC3",              // truncated at the end
      "\xE5\xAF",          // truncated three-byte form
      "\xC0\xAF",          // overlong '/'
      "\xED\xA0\x80",      // a surrogate code point
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xFF",
      std::string("\xE5\0\xAF", 3),  // zero inside a sequence
  };
  for (const std::string& s : bad) {
    EXPECT_THROW(Utf8ToUtf16(s), EInvalidUtf8) << testing::PrintToString(s);
  }
}

TEST(WideText, UnpairedSurrogatesBecomeReplacementCharacters) {
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"a"),
            "\xEF\xBF\xBD" "a");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(TStrings, TextEndsEveryLineWithCrLf) {
  TStrings s;
  EXPECT_EQ(s.Text(), "");
  s.Add("IF EXISTS (x)");
  s.Add("DROP TRIGGER t");
  EXPECT_EQ(s.Text(), "IF EXISTS (x)\r\nDROP TRIGGER t\r\n");
  s.Clear();
  s.Add("");
  EXPECT_EQ(s.Text(), "\r\n");
}

TEST(TStrings, ValuesTakesTheFirstMatchingNameAndKeepsTheRestOfTheLine) {
  TStrings p;
  p.Add("USER NAME=sa");
  p.Add("PASSWORD=a=b;c}");
  p.Add("password=second");
  p.Add("no equals sign");
  EXPECT_EQ(p.Values("user name"), "sa");
  EXPECT_EQ(p.Values("PASSWORD"), "a=b;c}");
  EXPECT_EQ(p.Values("USER"), "");
  EXPECT_EQ(p.Values("no equals sign"), "");
}

TEST(TQuery, WithoutAnOpenDatabaseFailsWithAClearMessage) {
  TQuery q;
  q.DatabaseName = "LibDB";
  q.SQL.Add("SELECT 1");
  try {
    q.ExecSQL();
    FAIL() << "ExecSQL without a connection succeeded";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("LibDB"), std::string::npos);
    EXPECT_EQ(e.SqlState(), "08003");
  }
  EXPECT_THROW(q.OpenRows(), EDatabaseError);
}

}  // namespace
}  // namespace tarnwick
