// Code page 936 conversion on Windows, through the system's own tables
// (MultiByteToWideChar / WideCharToMultiByte), with UTF-16 in between.
#include "platform/text/Codepage.h"
#include "platform/text/Utf16Win32.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <climits>
#include <optional>
#include <stdexcept>

namespace tarnwick {
namespace {

constexpr UINT kCp936 = 936;
constexpr wchar_t kReplacement = 0xFFFD;

int CheckedLength(std::size_t n) {
  if (n > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("text too long to convert");
  }
  return static_cast<int>(n);
}

// Bytes of `cp` to UTF-16. With `strict`, any byte sequence the code page
// does not define makes the call fail (returns false).
bool Decode(UINT cp, const char* bytes, int n, bool strict, std::wstring& out) {
  out.clear();
  if (n == 0) return true;  // the API rejects a zero length
  const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
  const int need = MultiByteToWideChar(cp, flags, bytes, n, nullptr, 0);
  if (need <= 0) return false;
  out.resize(static_cast<std::size_t>(need));
  return MultiByteToWideChar(cp, flags, bytes, n, out.data(), need) == need;
}

// UTF-16 to bytes of `cp`; characters `cp` cannot hold become `defaultChar`
// (and set *usedDefault), never a look-alike when WC_NO_BEST_FIT_CHARS is
// among `flags`.
std::string Encode(UINT cp, const std::wstring& text, DWORD flags,
                   const char* defaultChar, BOOL* usedDefault) {
  if (text.empty()) return {};
  const int n = CheckedLength(text.size());
  const int need = WideCharToMultiByte(cp, flags, text.data(), n, nullptr, 0,
                                       defaultChar, usedDefault);
  if (need <= 0) throw std::runtime_error("text conversion failed");
  std::string out(static_cast<std::size_t>(need), '\0');
  WideCharToMultiByte(cp, flags, text.data(), n, out.data(), need, defaultChar,
                      usedDefault);
  return out;
}

// Length of the well-formed UTF-8 sequence at s[i]; 0 when there is none.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return 1;
  const std::size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  // Let the system judge the sequence (overlong forms, surrogates, range).
  std::wstring probe;
  return Decode(CP_UTF8, s.data() + i, static_cast<int>(n), true, probe) ? n
                                                                          : 0;
}

// Length of the code page 936 character that starts at bytes[i]: two for a
// lead byte (0x81..0xFE) followed by a trail byte (0x40..0xFE except 0x7F),
// else one.
std::size_t Cp936CharLength(const std::string& bytes, std::size_t i) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  if (lead < 0x81 || lead > 0xFE || i + 1 >= bytes.size()) return 1;
  const auto trail = static_cast<unsigned char>(bytes[i + 1]);
  return (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) ? 2 : 1;
}

}  // namespace

namespace win32 {

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring out;
  Decode(CP_UTF8, utf8.data(), CheckedLength(utf8.size()), false, out);
  return out;
}

std::string WideToUtf8(const std::wstring& wide) {
  // CP_UTF8 takes no default character; unpaired surrogates become U+FFFD.
  return Encode(CP_UTF8, wide, 0, nullptr, nullptr);
}

}  // namespace win32

std::string Utf8ToCp936(const std::string& utf8) {
  return Encode(kCp936, win32::Utf8ToWide(utf8), WC_NO_BEST_FIT_CHARS, "?",
                nullptr);
}

std::optional<std::string> FirstNonCp936Char(const std::string& utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t len = Utf8SequenceLength(utf8, i);
    if (len == 0) return utf8.substr(i, 1);  // not UTF-8 here
    BOOL usedDefault = FALSE;
    Encode(kCp936, win32::Utf8ToWide(utf8.substr(i, len)),
           WC_NO_BEST_FIT_CHARS, "?", &usedDefault);
    if (usedDefault) return utf8.substr(i, len);
    i += len;
  }
  return std::nullopt;
}

std::string Cp936ToUtf8(const std::string& cp936) {
  std::wstring wide;
  if (!Decode(kCp936, cp936.data(), CheckedLength(cp936.size()), true, wide)) {
    // Without the strict flag Windows substitutes characters of its own
    // choosing (and Wine others again) for undefined bytes; going one
    // character at a time gives every undefined one U+FFFD instead.
    wide.clear();
    std::wstring one;
    for (std::size_t i = 0; i < cp936.size();) {
      const std::size_t len = Cp936CharLength(cp936, i);
      if (Decode(kCp936, cp936.data() + i, static_cast<int>(len), true, one)) {
        wide += one;
      } else {
        wide += kReplacement;
      }
      i += len;
    }
  }
  return win32::WideToUtf8(wide);
}

}  // namespace tarnwick
