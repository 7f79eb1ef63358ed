// Conversion between UTF-8, in which the program holds its texts, and the
// Chinese ANSI code page (GBK, code page 936), whose bytes the credential
// encoding works on.
#pragma once

#include <optional>
#include <string>

namespace tarnwick {

// Characters that code page 936 cannot hold become '?'.
std::string Utf8ToCp936(const std::string& utf8);
// Byte sequences that are not code page 936 become U+FFFD. Zero bytes are
// kept as they are.
std::string Cp936ToUtf8(const std::string& cp936);

// The first character of `utf8` that code page 936 cannot hold, as its UTF-8
// bytes (a lone byte when the text is not valid UTF-8 there); nothing when
// every character converts. Lets a caller refuse a text instead of storing
// '?' in place of what the user typed.
std::optional<std::string> FirstNonCp936Char(const std::string& utf8);

}  // namespace tarnwick
