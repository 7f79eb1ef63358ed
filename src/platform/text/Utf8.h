// Reading and writing UTF-8 one character at a time. Reading is strict:
// overlong forms, surrogates and code points past U+10FFFF are not characters.
#pragma once

#include <cstddef>
#include <string>

namespace tarnwick {

// Decodes the character that starts at s[i] into `cp` and returns its length
// in bytes; 0 when no well-formed character starts there.
inline std::size_t Utf8Decode(const std::string& s, std::size_t i, char32_t& cp) {
  const auto b = static_cast<unsigned char>(s[i]);
  std::size_t n = 0;
  if (b < 0x80) { cp = b; return 1; }
  if (b >= 0xC2 && b <= 0xDF) { n = 2; cp = b & 0x1F; }
  else if (b >= 0xE0 && b <= 0xEF) { n = 3; cp = b & 0x0F; }
  else if (b >= 0xF0 && b <= 0xF4) { n = 4; cp = b & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (c & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  return n;
}

// Appends the UTF-8 form of the code point `cp` to `out`.
inline void Utf8Append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace tarnwick
