#include "app/unGlobal.h"

#include "platform/text/Utf8.h"

namespace tarnwick {

std::string StatusText;

namespace {

// The character that starts at s[i], as its UTF-8 bytes when a well-formed
// sequence starts there (so that the message stays readable), else the byte.
std::string CharAt(const std::string& s, std::size_t i) {
  char32_t cp = 0;
  const std::size_t n = Utf8Decode(s, i, cp);
  return s.substr(i, n ? n : 1);
}

}  // namespace

std::string EncodeCredential(const std::string& plain) {
  // Field value x -> digit 2x + (x mod 2): 0, 3, 4, 7.
  static constexpr char kDigit[4] = {'0', '3', '4', '7'};
  std::string out;
  out.reserve(plain.size() * 4);
  for (unsigned char b : plain) {
    out += kDigit[(b >> 6) & 3];
    out += kDigit[(b >> 4) & 3];
    out += kDigit[(b >> 2) & 3];
    out += kDigit[b & 3];
  }
  return out;
}

std::string DecodeCredential(const std::string& encoded) {
  std::string out;
  if (encoded.size() % 4 != 0) return out;
  out.reserve(encoded.size() / 4);
  for (std::size_t i = 0; i < encoded.size(); i += 4) {
    unsigned v = 0;
    for (std::size_t j = i; j < i + 4; ++j) {
      const char c = encoded[j];
      if (c < '0' || c > '9')
        throw EConvertError("'" + CharAt(encoded, j) + "' is not a valid integer value");
      // Each digit counts half its value, rounded down; 8 and 9 give 4, which
      // carries into the next field. Only the low eight bits make the byte.
      v = v * 4 + static_cast<unsigned>(c - '0') / 2;
    }
    out += static_cast<char>(v & 0xFF);
  }
  return out;
}

}  // namespace tarnwick
