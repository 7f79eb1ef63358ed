#include "platform/database/WideText.h"

#include "platform/text/Utf8.h"

namespace tarnwick {

std::u16string Utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  // A C string API would end the text at its first zero byte: so does this.
  const std::string text = utf8.substr(0, utf8.find('\0'));
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = Utf8Decode(text, i, cp);
    if (n == 0) throw EInvalidUtf8("text is not valid UTF-8");
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& utf16) {
  std::string out;
  out.reserve(utf16.size());
  const std::size_t n = utf16.size();
  for (std::size_t i = 0; i < n; ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    Utf8Append(out, cp);
  }
  return out;
}

}  // namespace tarnwick
