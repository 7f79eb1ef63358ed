#include <gtest/gtest.h>

#include "app/unGlobal.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;

TEST(CredentialCodec, EveryByteValueRoundTripsAsFourDigitsOf0347) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string enc = EncodeCredential(all);
  ASSERT_EQ(enc.size(), 1024u);
  EXPECT_EQ(enc.find_first_not_of("0347"), std::string::npos);
  EXPECT_EQ(DecodeCredential(enc), all);
}

TEST(CredentialCodec, KnownEncodings) {
  EXPECT_EQ(EncodeCredential(""), "");
  EXPECT_EQ(EncodeCredential("abc"), "340334043407");
  EXPECT_EQ(EncodeCredential("\xFF"), "7777");
  EXPECT_EQ(EncodeCredential("\xD6\xD0"), "73347300");  // 中 in code page 936
}

TEST(CredentialCodec, DecodesDigitsEncodingNeverWrites) {
  struct Case {
    std::string encoded, plain;
  } cases[] = {
      {"", ""},
      {"9999", "T"},            // 340 mod 256 = 84
      {"0000", "\0"s},
      {"1111", "\0"s},          // odd digits round down
      {"2222", "U"},            // like 3333
      {"56565656", "\xBB\xBB"}, // like 4747
      {"8000", "\0"s},          // 4 * 64 carries out of the byte
      {"34033404", "ab"},
      {"340", ""},              // length not a multiple of four: empty, no error
      {"34033", ""},
      {" 3403", ""},            // five bytes
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeCredential(c.encoded), c.plain) << c.encoded;
}

TEST(CredentialCodec, NonDigitIsAConversionErrorNamingTheFirstOne) {
  struct Case {
    std::string encoded, message;
  } cases[] = {
      {"3403340x", "'x' is not a valid integer value"},
      {"a40b", "'a' is not a valid integer value"},
      {"34 3", "' ' is not a valid integer value"},
      {"-340", "'-' is not a valid integer value"},
      {"中3", "'中' is not a valid integer value"},  // the whole character, not a byte
      {"33\xFF" "3", "'\xFF' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    try {
      DecodeCredential(c.encoded);
      ADD_FAILURE() << "no error for " << c.encoded;
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace tarnwick
