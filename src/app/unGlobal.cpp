#include "app/unGlobal.h"

namespace tarnwick {

std::string StatusText;

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
        throw EConvertError("'" + std::string(1, c) + "' is not a valid integer value");
      // Each digit counts half its value, rounded down; 8 and 9 give 4, which
      // carries into the next field. Only the low eight bits make the byte.
      v = v * 4 + static_cast<unsigned>(c - '0') / 2;
    }
    out += static_cast<char>(v & 0xFF);
  }
  return out;
}

}  // namespace tarnwick
