// Fuzzes the credential codec. For any input:
//  - DecodeCredential either returns or throws EConvertError, and only when a
//    length that is a multiple of four holds a character that is not a digit;
//  - a length that is not a multiple of four decodes to the empty text;
//  - a successful decode gives one byte per group of four;
//  - EncodeCredential gives four digits (0, 3, 4, 7) per byte, and decoding
//    that gives back the input exactly;
//  - a text of only the digits 0, 3, 4 and 7 encodes back to itself after
//    decoding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/unGlobal.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "credential invariant broken: %s\n", what);
    std::abort();
  }
}

bool AllDigits(const std::string& s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool OnlyEncoderDigits(const std::string& s) {
  for (char c : s)
    if (c != '0' && c != '3' && c != '4' && c != '7') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  std::string decoded;
  bool threw = false;
  try {
    decoded = tarnwick::DecodeCredential(input);
  } catch (const tarnwick::EConvertError& e) {
    threw = true;
    // what() is a C string: a zero byte as the offending character cuts the
    // message short. Stored texts end at their first zero, so only texts
    // without one are held to the full form.
    const std::string msg = e.what();
    Check(!msg.empty() && msg[0] == '\'', "error message form");
    if (input.find('\0') == std::string::npos)
      Check(msg.find("' is not a valid integer value") != std::string::npos, "error message text");
  }
  if (size % 4 != 0) {
    Check(!threw && decoded.empty(), "odd length decodes to empty without error");
  } else {
    Check(threw == !AllDigits(input), "error exactly when a non-digit is present");
    if (!threw) Check(decoded.size() == size / 4, "one byte per group");
  }
  if (!threw && size % 4 == 0 && OnlyEncoderDigits(input))
    Check(tarnwick::EncodeCredential(decoded) == input, "encoder digits re-encode");

  const std::string encoded = tarnwick::EncodeCredential(input);
  Check(encoded.size() == 4 * size && OnlyEncoderDigits(encoded), "encoded form");
  Check(tarnwick::DecodeCredential(encoded) == input, "decode(encode(x)) == x");
  return 0;
}
