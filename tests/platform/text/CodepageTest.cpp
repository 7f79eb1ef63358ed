#include <gtest/gtest.h>

#include "platform/text/Codepage.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;

TEST(Codepage, ConvertsBothWaysAsWindowsCodePage936) {
  struct Case {
    std::string utf8, cp936;
  } cases[] = {
      {"", ""},
      {"sa", "sa"},
      {"中", "\xD6\xD0"},
      {"密码", "\xC3\xDC\xC2\xEB"},
      {"€", "\x80"},  // the euro sign sits at 0x80 as on Windows, not in plain GBK
      {"a\0b"s, "a\0b"s},
      {"宋体 Song", "\xCB\xCE\xCC\xE5 Song"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToCp936(c.utf8), c.cp936) << c.utf8;
    EXPECT_EQ(Cp936ToUtf8(c.cp936), c.utf8) << c.utf8;
  }
}

TEST(Codepage, UnmappableInputIsReplacedNotDropped) {
  EXPECT_EQ(Utf8ToCp936("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToCp936("a\xFF" "b"), "a?b");  // not UTF-8
  EXPECT_EQ(Cp936ToUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Cp936ToUtf8("ab\xD6"), "ab\xEF\xBF\xBD");  // lead byte without its trail
}

TEST(Codepage, FindsTheFirstCharacterTheCodePageCannotHold) {
  EXPECT_EQ(FirstNonCp936Char("plain 中文 €"), std::nullopt);
  EXPECT_EQ(FirstNonCp936Char("ab😀c한"), "😀");
  EXPECT_EQ(FirstNonCp936Char("x\xC3"), "\xC3");
}

}  // namespace
}  // namespace tarnwick
