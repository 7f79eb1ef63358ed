// Code page 936 conversion through the Windows tables.
#include "platform/text/Codepage.h"
#include "platform/text/Utf16Win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnwick {
namespace {

using namespace std::string_literals;

struct RoundTrip {
  const char* label;
  std::string utf8;
  std::string cp936;
};

TEST(CodepageWin32, ConvertsBothWays) {
  const std::vector<RoundTrip> cases = {
      {"empty", "", ""},
      {"ASCII", "sa", "sa"},
      {"two Chinese characters", "密码", "\xC3\xDC\xC2\xEB"},
      {"full-width punctuation", "！，", "\xA3\xA1\xA3\xAC"},
      {"pinyin letter", "é", "\xA8\xA6"},
      {"euro sign on its single byte", "€", "\x80"},
      {"zero bytes kept", "a\0b\0"s, "a\0b\0"s},
      {"mixed", "登录sa标识", "\xB5\xC7\xC2\xBC" "sa" "\xB1\xEA\xCA\xB6"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToCp936(c.utf8), c.cp936);
    EXPECT_EQ(Cp936ToUtf8(c.cp936), c.utf8);
    EXPECT_EQ(FirstNonCp936Char(c.utf8), std::nullopt);
  }
}

TEST(CodepageWin32, CharactersOutsideTheCodePage) {
  struct Case {
    const char* label;
    std::string utf8;
    std::string cp936;
    std::string firstBad;
  };
  const std::vector<Case> cases = {
      // No look-alike letter in place of what the user typed.
      {"n with tilde", "a\xC3\xB1z", "a?z", "\xC3\xB1"},
      {"Ethiopic", "\xE1\x88\xB4" "1", "?1", "\xE1\x88\xB4"},
      {"ill-formed UTF-8", "x\xFFy", "x?y", "\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Utf8ToCp936(c.utf8), c.cp936);
    EXPECT_EQ(FirstNonCp936Char(c.utf8), c.firstBad);
  }
  // A character outside the BMP: its two UTF-16 halves give no '?' pair of
  // look-alikes, and nothing before it is lost.
  const std::string emoji = "ok\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8ToCp936(emoji).substr(0, 3), "ok?");
  EXPECT_EQ(FirstNonCp936Char(emoji), "\xF0\x9F\x98\x80");
}

TEST(CodepageWin32, UndefinedBytesBecomeReplacementCharacters) {
  const std::string r = "\xEF\xBF\xBD";
  struct Case {
    const char* label;
    std::string cp936;
    std::string utf8;
  };
  const std::vector<Case> cases = {
      {"0xFF", "a\xFF" "b", "a" + r + "b"},
      {"lead byte at the end", "\xC3\xDC\xC3", "密" + r},
      {"lead byte before a byte that cannot trail", "\xC3\x30", r + "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Cp936ToUtf8(c.cp936), c.utf8);
  }
}

// Every byte string the credential codec can produce decodes to text that
// encodes back to the same bytes, for each single byte and each lead/trail
// pair the code page defines.
TEST(CodepageWin32, DefinedCharactersSurviveARoundTrip) {
  int defined = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string text = Cp936ToUtf8(bytes);
      if (text.find("\xEF\xBF\xBD") != std::string::npos) continue;
      ++defined;
      ASSERT_EQ(Utf8ToCp936(text), bytes) << std::hex << lead << " " << trail;
    }
  }
  // GBK defines 21886 two-byte characters; allow the user-defined areas to
  // be mapped or not.
  EXPECT_GT(defined, 21000);
  for (int b = 0; b < 0x80; ++b) {
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp936(Cp936ToUtf8(one)), one);
  }
}

TEST(Utf16Win32, KeepsZerosAndReplacesWhatIsIllFormed) {
  EXPECT_EQ(win32::Utf8ToWide("a\0\xE5\xAF\x86"s), L"a\0\x5bc6"s);
  EXPECT_EQ(win32::WideToUtf8(L"a\0\x5bc6"s), "a\0\xE5\xAF\x86"s);
  EXPECT_EQ(win32::WideToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(win32::Utf8ToWide("\xC0\x80"), L"\xFFFD\xFFFD");
  EXPECT_EQ(win32::Utf8ToWide(""), L"");
}

}  // namespace
}  // namespace tarnwick
