// Code page 936 conversion through glibc's iconv. glibc's "CP936" table is the
// Windows one (0x80 is the euro sign), unlike its plain "GBK".
#include "platform/text/Codepage.h"
#include "platform/text/Utf8.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace tarnwick {
namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("code page conversion unavailable: ") + from + " -> " + to);
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts as much as possible; returns the errno that stopped it (0 when
  // the whole input was consumed). `in`/`inLeft` are advanced.
  int Convert(const char*& in, std::size_t& inLeft, std::string& out) {
    char buf[256];
    while (inLeft > 0) {
      char* inPtr = const_cast<char*>(in);
      char* outPtr = buf;
      std::size_t outLeft = sizeof buf;
      const std::size_t r = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buf, static_cast<std::size_t>(outPtr - buf));
      in = inPtr;
      if (r == static_cast<std::size_t>(-1)) {
        if (errno == E2BIG) continue;
        const int err = errno;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset shift state
        return err;
      }
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one.
std::size_t Utf8SeqLen(const std::string& s, std::size_t i) {
  char32_t cp = 0;
  return Utf8Decode(s, i, cp);
}

// Walks `utf8` through iconv; on a character that cannot be converted, calls
// onBad(position, length) and skips it. Returns the converted bytes.
template <typename OnBad>
std::string ToCp936(const std::string& utf8, OnBad onBad) {
  Iconv cv("CP936", "UTF-8");
  std::string out;
  const char* in = utf8.data();
  std::size_t left = utf8.size();
  while (left > 0) {
    if (cv.Convert(in, left, out) == 0) break;
    const std::size_t pos = utf8.size() - left;
    std::size_t len = Utf8SeqLen(utf8, pos);
    if (len == 0) len = 1;
    if (!onBad(pos, len, out)) break;
    in += len;
    left -= len;
  }
  return out;
}

}  // namespace

std::string Utf8ToCp936(const std::string& utf8) {
  return ToCp936(utf8, [](std::size_t, std::size_t, std::string& out) {
    out += '?';
    return true;
  });
}

std::string Cp936ToUtf8(const std::string& cp936) {
  Iconv cv("UTF-8", "CP936");
  std::string out;
  const char* in = cp936.data();
  std::size_t left = cp936.size();
  while (left > 0) {
    if (cv.Convert(in, left, out) == 0) break;
    // An invalid or truncated sequence: one replacement character for its
    // first byte, then go on with the next byte.
    out += "\xEF\xBF\xBD";
    ++in;
    --left;
  }
  return out;
}

std::optional<std::string> FirstNonCp936Char(const std::string& utf8) {
  std::optional<std::string> bad;
  ToCp936(utf8, [&](std::size_t pos, std::size_t len, std::string&) {
    bad = utf8.substr(pos, len);
    return false;
  });
  return bad;
}

}  // namespace tarnwick
