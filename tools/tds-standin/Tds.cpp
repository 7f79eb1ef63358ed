#include "Tds.h"

#include <algorithm>

namespace tdsstandin::tds {

namespace {
void AppendUtf8(std::string& out, std::uint32_t cp) {
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
}  // namespace

std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t units) {
  std::string out;
  out.reserve(units);
  auto unit = [data](std::size_t i) {
    return static_cast<std::uint32_t>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      std::uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    AppendUtf8(out, u);
  }
  return out;
}

std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    unsigned char c = s[i];
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      bool ok = i + len <= n;
      std::uint32_t v = c & (0xFF >> (len + 1));
      for (std::size_t k = 1; ok && k < len; ++k) {
        unsigned char cc = s[i + k];
        if ((cc & 0xC0) != 0x80) ok = false;
        v = (v << 6) | (cc & 0x3F);
      }
      static const std::uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
      if (ok && v >= minimum[len] && v <= 0x10FFFF &&
          !(v >= 0xD800 && v <= 0xDFFF)) {
        cp = v;
      } else {
        len = 1;
      }
    } else if (c >= 0x80) {
      len = 1;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::uint32_t AckVersion(std::uint32_t requested) {
  switch (requested >> 24) {
    case 0x70: return kTds70;
    case 0x71: return kTds71;
    case 0x72: return kTds72;
    case 0x73: return kTds73;
    default: return kTds74;
  }
}

void TokenWriter::U16(std::uint16_t v) {
  U8(v & 0xFF);
  U8(v >> 8);
}
void TokenWriter::U32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) U8((v >> (8 * i)) & 0xFF);
}
void TokenWriter::U64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) U8((v >> (8 * i)) & 0xFF);
}
void TokenWriter::Utf16(const std::u16string& s) {
  for (char16_t c : s) U16(static_cast<std::uint16_t>(c));
}
void TokenWriter::BVarChar(const std::string& s) {
  std::u16string w = Utf8ToUtf16(s);
  if (w.size() > 255) w.resize(255);
  U8(static_cast<std::uint8_t>(w.size()));
  Utf16(w);
}
void TokenWriter::UsVarChar(const std::string& s) {
  std::u16string w = Utf8ToUtf16(s);
  if (w.size() > 65535) w.resize(65535);
  U16(static_cast<std::uint16_t>(w.size()));
  Utf16(w);
}
void TokenWriter::Collation() {
  // Latin1 general, case-insensitive, accent-sensitive (LCID 0x0409,
  // sort order 52): the usual server default.
  for (std::uint8_t b : {0x09, 0x04, 0xD0, 0x00, 0x34}) U8(b);
}
void TokenWriter::PatchLength(std::size_t at) {
  std::size_t len = out_.size() - at - 2;
  out_[at] = len & 0xFF;
  out_[at + 1] = (len >> 8) & 0xFF;
}

void TokenWriter::Message(const tdsstandin::Message& m) {
  U8(m.severity > 10 ? 0xAA : 0xAB);
  std::size_t at = out_.size();
  U16(0);
  U32(static_cast<std::uint32_t>(m.number));
  U8(m.state);
  U8(m.severity);
  UsVarChar(m.text);
  BVarChar("standin");
  BVarChar("");
  if (Tds72())
    U32(static_cast<std::uint32_t>(m.line));
  else
    U16(static_cast<std::uint16_t>(m.line));
  PatchLength(at);
}

void TokenWriter::EnvChange(std::uint8_t type, const std::string& newValue,
                            const std::string& oldValue) {
  U8(0xE3);
  std::size_t at = out_.size();
  U16(0);
  U8(type);
  BVarChar(newValue);
  BVarChar(oldValue);
  PatchLength(at);
}

void TokenWriter::CollationChange() {
  if (!Tds71()) return;
  U8(0xE3);
  std::size_t at = out_.size();
  U16(0);
  U8(7);
  U8(5);
  Collation();
  U8(0);
  PatchLength(at);
}

void TokenWriter::LoginAck(const std::string& programName) {
  U8(0xAD);
  std::size_t at = out_.size();
  U16(0);
  U8(1);  // T-SQL interface
  for (int i = 3; i >= 0; --i) U8((version_ >> (8 * i)) & 0xFF);
  BVarChar(programName);
  for (std::uint8_t b : {13, 0, 0x0F, 0xA1}) U8(b);  // version 13.0.4001
  PatchLength(at);
}

void TokenWriter::Done(std::uint16_t status, std::uint16_t curCmd,
                       std::uint64_t count, std::uint8_t token) {
  U8(token);
  U16(status);
  U16(curCmd);
  if (Tds72())
    U64(count);
  else
    U32(static_cast<std::uint32_t>(count));
}

void TokenWriter::Result(const ResultSet& rs) {
  U8(0x81);
  U16(static_cast<std::uint16_t>(rs.columns.size()));
  for (const auto& c : rs.columns) {
    if (Tds72())
      U32(0);
    else
      U16(0);
    U16(c.nullable ? 0x0001 : 0x0000);  // read-only, nullable or not
    switch (c.kind) {
      case Column::Kind::NVarChar:
        U8(0xE7);
        U16(c.maxBytes);
        if (Tds71()) Collation();
        break;
      case Column::Kind::Char:
        U8(0xAF);
        U16(c.maxBytes);
        if (Tds71()) Collation();
        break;
      case Column::Kind::Int:
        if (c.nullable) {
          U8(0x26);  // INTN: a length byte, 0 for NULL
          U8(4);
        } else {
          U8(0x38);
        }
        break;
    }
    BVarChar(c.name);
  }
  for (const auto& row : rs.rows) {
    U8(0xD1);
    for (std::size_t i = 0; i < rs.columns.size(); ++i) {
      const Column& c = rs.columns[i];
      const Value& v = row[i];
      if (std::holds_alternative<Null>(v)) {
        // Only a nullable column can hold NULL; its type has a NULL form.
        if (c.kind == Column::Kind::Int)
          U8(0);
        else
          U16(0xFFFF);
        continue;
      }
      switch (c.kind) {
        case Column::Kind::NVarChar: {
          std::u16string w = Utf8ToUtf16(std::get<std::string>(v));
          if (w.size() * 2 > c.maxBytes) w.resize(c.maxBytes / 2);
          U16(static_cast<std::uint16_t>(w.size() * 2));
          Utf16(w);
          break;
        }
        case Column::Kind::Char: {
          std::string s = std::get<std::string>(v);
          s.resize(c.maxBytes, ' ');
          U16(static_cast<std::uint16_t>(s.size()));
          for (char ch : s) U8(static_cast<std::uint8_t>(ch));
          break;
        }
        case Column::Kind::Int:
          if (c.nullable) U8(4);
          U32(static_cast<std::uint32_t>(std::get<std::int32_t>(v)));
          break;
      }
    }
  }
}

void TokenWriter::ReturnStatus(std::int32_t value) {
  U8(0x79);
  U32(static_cast<std::uint32_t>(value));
}

void TokenWriter::ReturnInt(std::uint16_t ordinal, const std::string& name,
                            std::int32_t value) {
  U8(0xAC);
  U16(ordinal);
  BVarChar(name);
  U8(0x01);  // output parameter
  if (Tds72())
    U32(0);
  else
    U16(0);
  U16(0x0001);  // nullable
  U8(0x26);     // INTN
  U8(4);
  U8(4);
  U32(static_cast<std::uint32_t>(value));
}

}  // namespace tdsstandin::tds
