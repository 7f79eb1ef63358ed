#include "platform/registry/RegText.h"

#include "platform/registry/RegistryHive.h"
#include "platform/text/Codepage.h"
#include "platform/text/Utf8.h"

namespace tarnwick::regtext {
namespace {

constexpr char kRoot[] = "HKEY_LOCAL_MACHINE";
constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";
constexpr char kHeader4[] = "REGEDIT4";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const std::string& s, std::size_t pos, const char* prefix) {
  for (std::size_t k = 0; prefix[k]; ++k)
    if (pos + k >= s.size() || Lower(s[pos + k]) != Lower(prefix[k])) return false;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::size_t SkipBlanks(const std::string& s, std::size_t i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  return i;
}

bool OnlyBlanksFrom(const std::string& s, std::size_t i) { return SkipBlanks(s, i) == s.size(); }

std::string TrimBlanks(const std::string& s) {
  std::size_t b = SkipBlanks(s, 0), e = s.size();
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}


bool ValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    const std::size_t n = Utf8Decode(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

// UTF-16LE bytes -> UTF-8. With stopAtZero, ends at the first zero unit.
// False on an unpaired surrogate or an odd byte count (before the stop).
bool Utf16LeToUtf8(const std::string& bytes, bool stopAtZero, std::string& out) {
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t u = static_cast<unsigned char>(bytes[2 * i]) |
                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    if (u == 0 && stopAtZero) return true;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units) return false;
      const char32_t lo = static_cast<unsigned char>(bytes[2 * i + 2]) |
                          (static_cast<unsigned char>(bytes[2 * i + 3]) << 8);
      if (lo < 0xDC00 || lo > 0xDFFF) return false;
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    }
    Utf8Append(out, u);
  }
  return bytes.size() % 2 == 0 || stopAtZero;
}

// Valid UTF-8 -> UTF-16LE bytes.
std::string Utf8ToUtf16Le(const std::string& s) {
  std::string out;
  auto unit = [&out](char32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>((u >> 8) & 0xFF);
  };
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0xFFFD;
    std::size_t n = Utf8Decode(s, i, cp);
    if (n == 0) { n = 1; cp = 0xFFFD; }
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
    i += n;
  }
  return out;
}

// Splits the file into physical lines and finds its encoding.
void SplitLines(const std::string& bytes, Encoding& enc, std::vector<Line>& lines) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    enc = Encoding::kUtf16LeBom;
    std::size_t start = 0, i = 2;
    while (start < bytes.size()) {
      std::size_t end = bytes.size();
      for (; i + 1 < bytes.size(); i += 2)
        if (bytes[i] == '\n' && bytes[i + 1] == '\0') { end = i + 2; i += 2; break; }
      if (end == bytes.size()) i = bytes.size();
      Line line;
      line.raw = bytes.substr(start, end - start);
      std::string units = line.raw.substr(start == 0 ? 2 : 0);
      if (units.size() >= 2 && units[units.size() - 2] == '\n' && units.back() == '\0')
        units.resize(units.size() - 2);
      if (units.size() >= 2 && units[units.size() - 2] == '\r' && units.back() == '\0')
        units.resize(units.size() - 2);
      line.decoded = Utf16LeToUtf8(units, false, line.text);
      lines.push_back(std::move(line));
      start = end;
    }
    return;
  }
  std::size_t start = 0;
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) enc = Encoding::kUtf8Bom;
  else enc = Encoding::kUtf8;
  while (start < bytes.size()) {
    const std::size_t nl = bytes.find('\n', start);
    const std::size_t end = nl == std::string::npos ? bytes.size() : nl + 1;
    Line line;
    line.raw = bytes.substr(start, end - start);
    std::size_t b = (start == 0 && enc == Encoding::kUtf8Bom) ? 3 : 0;
    std::size_t e = line.raw.size();
    if (e > b && line.raw[e - 1] == '\n') --e;
    if (e > b && line.raw[e - 1] == '\r') --e;
    line.text = line.raw.substr(b, e - b);
    line.decoded = ValidUtf8(line.text);
    lines.push_back(std::move(line));
    start = end;
  }
}

// Parses a quoted string starting at s[i] == '"'. Only \\ and \" are escapes,
// as the registry editor writes them. Returns the index after the closing
// quote, or npos when unterminated or on another escape.
std::size_t ParseQuoted(const std::string& s, std::size_t i, std::string& out) {
  for (++i; i < s.size(); ++i) {
    const char c = s[i];
    if (c == '"') return i + 1;
    if (c == '\\') {
      if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) return std::string::npos;
      out += s[++i];
    } else {
      out += c;
    }
  }
  return std::string::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads 1..maxDigits hex digits at s[i]; returns the index after them, npos
// when there is none.
std::size_t ParseHexNumber(const std::string& s, std::size_t i, std::size_t maxDigits, std::uint32_t& v) {
  std::size_t n = 0;
  v = 0;
  while (i < s.size() && HexDigit(s[i]) >= 0) {
    if (++n > maxDigits) return std::string::npos;
    v = v * 16 + static_cast<std::uint32_t>(HexDigit(s[i]));
    ++i;
  }
  return n == 0 ? std::string::npos : i;
}

// "hh,hh,..." (blanks allowed around each byte, an empty list and a trailing
// comma accepted).
bool ParseHexBytes(const std::string& s, std::size_t i, std::string& out) {
  i = SkipBlanks(s, i);
  while (i < s.size()) {
    std::uint32_t v;
    const std::size_t next = ParseHexNumber(s, i, 2, v);
    if (next == std::string::npos) return false;
    out += static_cast<char>(v);
    i = SkipBlanks(s, next);
    if (i == s.size()) break;
    if (s[i] != ',') return false;
    i = SkipBlanks(s, i + 1);
  }
  return true;
}

ValueData ParseData(const std::string& s, std::size_t i, bool regedit4, bool lineDecoded) {
  ValueData d;
  if (!lineDecoded) return d;  // the name was found, the data is unreadable
  if (i < s.size() && s[i] == '"') {
    std::string text;
    const std::size_t end = ParseQuoted(s, i, text);
    if (end == std::string::npos || !OnlyBlanksFrom(s, end)) return d;
    d.type = regtype::kSz;
    d.dataSize = Utf8ToUtf16Le(text).size() + 2;
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    d.text = std::move(text);
    d.parsed = true;
    return d;
  }
  if (i < s.size() && s[i] == '-' && OnlyBlanksFrom(s, i + 1)) {
    d.deleted = d.parsed = true;
    return d;
  }
  if (StartsWithNoCase(s, i, "dword:")) {
    std::uint32_t v;
    const std::size_t end = ParseHexNumber(s, i + 6, 8, v);
    if (end == std::string::npos || !OnlyBlanksFrom(s, end)) return d;
    d.type = regtype::kDword;
    d.dataSize = 4;
    d.parsed = true;
    return d;
  }
  if (StartsWithNoCase(s, i, "hex")) {
    std::size_t j = i + 3;
    std::uint32_t type = regtype::kBinary;
    if (j < s.size() && s[j] == '(') {
      j = ParseHexNumber(s, j + 1, 8, type);
      if (j == std::string::npos || j >= s.size() || s[j] != ')') return d;
      ++j;
    }
    if (j >= s.size() || s[j] != ':') return d;
    std::string bytes;
    if (!ParseHexBytes(s, j + 1, bytes)) return d;
    d.type = type;
    d.dataSize = bytes.size();
    if (type == regtype::kSz || type == regtype::kExpandSz) {
      if (regedit4) {
        // Such files hold string data in the ANSI code page.
        const std::size_t zero = bytes.find('\0');
        if (zero != std::string::npos) bytes.resize(zero);
        d.text = Cp936ToUtf8(bytes);
      } else if (!Utf16LeToUtf8(bytes, true, d.text)) {
        return d;
      }
    }
    d.parsed = true;
    return d;
  }
  return d;
}

std::string EscapeQuoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string HexList(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    if (k) out += ',';
    const auto b = static_cast<unsigned char>(bytes[k]);
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

// Key paths compare without case and without surrounding backslashes.
std::string NormalKey(const std::string& path) {
  std::size_t b = 0, e = path.size();
  while (b < e && path[b] == '\\') ++b;
  while (e > b && path[e - 1] == '\\') --e;
  std::string out;
  for (std::size_t k = b; k < e; ++k) out += Lower(path[k]);
  // The file holds the one view of the hive that a 32-bit program sees. A
  // key exported from that view by the 64-bit registry editor is written
  // under SOFTWARE\WOW6432Node; it is the same key, so such an export placed
  // as the file works as it is.
  static const std::string kRedirected = "software\\wow6432node";
  if (out.compare(0, kRedirected.size(), kRedirected) == 0 &&
      (out.size() == kRedirected.size() || out[kRedirected.size()] == '\\'))
    out.erase(8, kRedirected.size() - 8);
  return out;
}

}  // namespace

bool NamesEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (Lower(a[k]) != Lower(b[k])) return false;
  return true;
}

RegDocument::RegDocument() = default;

RegDocument RegDocument::Parse(const std::string& bytes) {
  RegDocument doc;
  SplitLines(bytes, doc.encoding_, doc.lines_);
  for (const Line& l : doc.lines_) {
    if (l.raw.empty()) continue;
    const std::size_t n = l.raw.size();
    const bool crlf = doc.encoding_ == Encoding::kUtf16LeBom
                          ? n >= 4 && l.raw.compare(n - 4, 4, std::string("\r\0\n\0", 4)) == 0
                          : n >= 2 && l.raw.compare(n - 2, 2, "\r\n") == 0;
    const bool ended = doc.encoding_ == Encoding::kUtf16LeBom
                           ? n >= 2 && l.raw.compare(n - 2, 2, std::string("\n\0", 2)) == 0
                           : l.raw.back() == '\n';
    if (ended) {
      doc.eol_ = crlf ? "\r\n" : "\n";
      break;
    }
  }
  for (const Line& l : doc.lines_) {
    const std::string t = TrimBlanks(l.text);
    if (t.empty()) continue;
    doc.regedit4_ = l.decoded && t == kHeader4;
    break;
  }
  doc.ParseLogical();
  return doc;
}

void RegDocument::ParseLogical() {
  sections_.clear();
  Section* current = nullptr;  // nullptr: values here belong to no key of ours
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    const std::size_t start = SkipBlanks(line.text, 0);
    if (start == line.text.size() || line.text[start] == ';') continue;
    const char c = line.text[start];
    if (c == '[') {
      current = nullptr;
      const std::size_t close = line.text.rfind(']');
      if (!line.decoded || close == std::string::npos || close <= start) continue;
      const std::string full = line.text.substr(start + 1, close - start - 1);
      if (full.empty() || full[0] == '-') continue;  // a deletion, not a key
      const std::size_t sep = full.find('\\');
      const std::string root = full.substr(0, sep);
      if (!NamesEqual(root, kRoot)) continue;
      Section s;
      s.ours = true;
      s.path = sep == std::string::npos ? std::string() : full.substr(sep + 1);
      s.headerLine = i;
      sections_.push_back(std::move(s));
      current = &sections_.back();
      continue;
    }
    if (c != '"' && c != '@') continue;
    // A value line. Only hex data continues on the next lines (a trailing '\').
    std::string text = line.text;
    bool decoded = line.decoded;
    ValueEntry entry;
    entry.firstLine = entry.lastLine = i;
    std::size_t j = start;
    if (c == '@') {
      ++j;
    } else {
      j = ParseQuoted(text, j, entry.name);
      if (j == std::string::npos) continue;  // no name to attribute it to
    }
    j = SkipBlanks(text, j);
    if (j >= text.size() || text[j] != '=') continue;
    j = SkipBlanks(text, j + 1);
    if (StartsWithNoCase(text, j, "hex")) {
      for (;;) {
        std::size_t e = text.size();
        while (e > j && IsBlank(text[e - 1])) --e;
        if (e == j || text[e - 1] != '\\') break;
        // A continuation mark with no line after it, or only a blank one, is
        // cut-off data: unreadable. Reading it as complete would make it
        // change meaning once a save appends lines after it.
        if (entry.lastLine + 1 >= lines_.size() ||
            TrimBlanks(lines_[entry.lastLine + 1].text).empty()) {
          decoded = false;
          break;
        }
        text.resize(e - 1);
        const Line& next = lines_[++entry.lastLine];
        decoded = decoded && next.decoded;
        text += next.text.substr(SkipBlanks(next.text, 0));
      }
      i = entry.lastLine;
    }
    if (!current) continue;
    entry.data = ParseData(text, j, regedit4_, decoded);
    current->values.push_back(std::move(entry));
  }
}

std::string RegDocument::Serialize() const {
  std::string out;
  for (const Line& l : lines_) out += l.raw;
  return out;
}

bool RegDocument::KeyExists(const std::string& path) const {
  const std::string want = NormalKey(path);
  for (const Section& s : sections_) {
    const std::string have = NormalKey(s.path);
    if (have == want || want.empty() ||
        (have.size() > want.size() && have.compare(0, want.size(), want) == 0 &&
         have[want.size()] == '\\'))
      return true;
  }
  return false;
}

const ValueEntry* RegDocument::FindValue(const std::string& path, const std::string& name) const {
  const std::string want = NormalKey(path);
  const ValueEntry* found = nullptr;
  for (const Section& s : sections_) {
    if (NormalKey(s.path) != want) continue;
    for (const ValueEntry& v : s.values)
      if (NamesEqual(v.name, name)) found = &v;
  }
  if (found && found->data.parsed && found->data.deleted) return nullptr;
  return found;
}

std::string RegDocument::EncodeLine(const std::string& utf8) const {
  if (encoding_ == Encoding::kUtf16LeBom) return Utf8ToUtf16Le(utf8 + eol_);
  return utf8 + eol_;
}

void RegDocument::EnsureLastLineEnded() {
  if (lines_.empty()) return;
  Line& last = lines_.back();
  const std::string nl = encoding_ == Encoding::kUtf16LeBom ? std::string("\n\0", 2) : "\n";
  // In UTF-16 every line starts at an even offset, so a line of odd length
  // cannot end in a line break, whatever its last two bytes are.
  const bool aligned = encoding_ != Encoding::kUtf16LeBom || last.raw.size() % 2 == 0;
  if (aligned && last.raw.size() >= nl.size() &&
      last.raw.compare(last.raw.size() - nl.size(), nl.size(), nl) == 0)
    return;
  // A last line ending in a bare CR reads as if the CR ended it; completing
  // it to CR LF keeps it so, where a whole new line end would leave the CR
  // inside the line and make it unreadable.
  const std::string cr = encoding_ == Encoding::kUtf16LeBom ? std::string("\r\0", 2) : "\r";
  if (aligned && last.raw.size() >= cr.size() &&
      last.raw.compare(last.raw.size() - cr.size(), cr.size(), cr) == 0) {
    last.raw += nl;
    return;
  }
  if (encoding_ == Encoding::kUtf16LeBom && last.raw.size() % 2) {
    // A stray odd byte at the end: complete its unit so that the new lines
    // stay aligned to whole UTF-16 units. The byte added makes the unit a
    // lone high surrogate, so the cut-off line stays unreadable, as it was,
    // rather than gaining a character that was never there.
    last.raw += '\xD8';
  }
  last.raw += EncodeLine("");
}

void RegDocument::AppendSection(const std::string& path, const std::vector<std::string>& body) {
  bool hasContent = false;
  for (const Line& l : lines_)
    if (!TrimBlanks(l.text).empty()) { hasContent = true; break; }
  EnsureLastLineEnded();
  auto add = [this](const std::string& text) {
    Line l;
    l.raw = EncodeLine(text);
    l.text = text;
    if (lines_.empty() && encoding_ == Encoding::kUtf16LeBom) l.raw = "\xFF\xFE" + l.raw;
    if (lines_.empty() && encoding_ == Encoding::kUtf8Bom) l.raw = "\xEF\xBB\xBF" + l.raw;
    lines_.push_back(std::move(l));
  };
  if (!hasContent) add(kHeader5);
  if (!TrimBlanks(lines_.back().text).empty()) add("");
  add(std::string("[") + kRoot + "\\" + path + "]");
  for (const std::string& b : body) add(b);
  ParseLogical();
}

void RegDocument::AddKey(const std::string& path) {
  if (KeyExists(path)) return;
  AppendSection(path, {});
}

bool RegDocument::SetSz(const std::string& path, const std::string& name, const std::string& value) {
  std::string text = value.substr(0, value.find('\0'));
  if (!ValidUtf8(text) || !ValidUtf8(name)) return false;
  std::string line = name.empty() ? "@=" : EscapeQuoted(name) + "=";
  if (text.find_first_of("\r\n") == std::string::npos) {
    line += EscapeQuoted(text);
  } else {
    // A line break cannot stand inside a quoted string of the file: the same
    // REG_SZ data is written in its hex form instead.
    std::string data;
    if (regedit4_) {
      if (FirstNonCp936Char(text)) return false;
      data = Utf8ToCp936(text) + std::string(1, '\0');
    } else {
      data = Utf8ToUtf16Le(text) + std::string(2, '\0');
    }
    line += "hex(1):" + HexList(data);
  }

  // Replace the last definition of the value, wherever it is.
  const std::string want = NormalKey(path);
  const ValueEntry* last = nullptr;
  const Section* lastSection = nullptr;
  for (const Section& s : sections_) {
    if (NormalKey(s.path) != want) continue;
    lastSection = &s;
    for (const ValueEntry& v : s.values)
      if (NamesEqual(v.name, name)) last = &v;
  }
  Line newLine;
  newLine.text = line;
  newLine.raw = EncodeLine(line);
  if (last) {
    const std::size_t first = last->firstLine, end = last->lastLine + 1;
    if (end == lines_.size()) EnsureLastLineEnded();
    // Keep a byte-order mark that sits on the replaced first line.
    if (first == 0 && encoding_ == Encoding::kUtf16LeBom) newLine.raw = "\xFF\xFE" + newLine.raw;
    if (first == 0 && encoding_ == Encoding::kUtf8Bom) newLine.raw = "\xEF\xBB\xBF" + newLine.raw;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(first),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(first), std::move(newLine));
    ParseLogical();
    return true;
  }
  if (lastSection) {
    std::size_t after = lastSection->values.empty() ? lastSection->headerLine
                                                    : lastSection->values.back().lastLine;
    // After a hex value whose last line still ends in a continuation mark the
    // new line would be read as more of its data: put it under the header.
    const std::string lastText = TrimBlanks(lines_[after].text);
    if (after != lastSection->headerLine && !lastText.empty() && lastText.back() == '\\')
      after = lastSection->headerLine;
    if (after + 1 == lines_.size()) EnsureLastLineEnded();
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after + 1), std::move(newLine));
    ParseLogical();
    return true;
  }
  AppendSection(path, {line});
  return true;
}

}  // namespace tarnwick::regtext
