// UTF-8 <-> UTF-16 conversion for the wide-character ODBC calls. The program
// holds its texts in UTF-8; the ODBC "W" functions take UTF-16 (SQLWCHAR is a
// 16-bit unit both in unixODBC and in the Windows ODBC manager). Written by
// hand because the standard library's converters are deprecated and iconv is
// not available everywhere we build.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnwick {

// Text that is not well-formed UTF-8.
class EInvalidUtf8 : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Converts UTF-8 to UTF-16. Stops at the first zero byte, as a C string
// interface would. Throws EInvalidUtf8 on malformed input (overlong forms,
// surrogate code points and values above U+10FFFF included); the message
// never quotes the text.
std::u16string Utf8ToUtf16(const std::string& utf8);

// Converts UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::u16string& utf16);

}  // namespace tarnwick
