// Process-wide texts shared by start-up and the splash window, and the
// reversible digit encoding of the stored login and password.
#pragma once

#include <stdexcept>
#include <string>

namespace tarnwick {

// The status text: empty at start, kConnectingText from just before the splash
// window is created (kept when the connection fails), "OK" once the connection
// is open. UTF-8.
extern std::string StatusText;

inline constexpr const char kConnectingText[] = "系统正在连接数据库，请稍候...";
inline constexpr const char kStatusOk[] = "OK";

// A text that is not a number where one was expected.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encodes each byte of `plain` as four digits, one per 2-bit field, most
// significant first; the field value x is written as the digit 2x + (x mod 2),
// so only 0, 3, 4 and 7 occur. Works on bytes, never fails.
std::string EncodeCredential(const std::string& plain);

// The inverse of EncodeCredential. A length that is not a multiple of four
// gives the empty text. Any decimal digit is accepted (its value halved and
// rounded down); the first other character throws EConvertError with
// "'<c>' is not a valid integer value", <c> being the whole UTF-8 character
// when one starts at that byte. The length counts bytes.
std::string DecodeCredential(const std::string& encoded);

}  // namespace tarnwick
