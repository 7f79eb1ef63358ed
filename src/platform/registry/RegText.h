// The text of a registry export file (.reg): parsing for reading, and
// changing single values or adding keys while every line that is not changed
// stays byte for byte as it was. Pure text processing, no file access.
//
// Read: UTF-8 with or without byte-order mark, UTF-16LE with byte-order mark
// (what the Windows registry editor writes), CR LF or LF line ends. New lines
// are written in the file's own encoding and line-end style, so a file stays
// uniform; a new file is UTF-8 with LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::regtext {

enum class Encoding { kUtf8, kUtf8Bom, kUtf16LeBom };

// One physical line of the file.
struct Line {
  std::string raw;      // the bytes as in the file, line end included
  std::string text;     // UTF-8, without byte-order mark and line end
  bool decoded = true;  // `text` is a faithful decoding of `raw`
};

// The data of one value line.
struct ValueData {
  bool parsed = false;      // false: the line names the value but its data
                            // cannot be read
  bool deleted = false;     // "name"=- (removes the value)
  std::uint32_t type = 0;   // regtype::...
  std::size_t dataSize = 0; // bytes the registry would store
  std::string text;         // for string types: the text up to its first
                            // zero character, UTF-8
};

struct ValueEntry {
  std::string name;  // empty for the default value (@)
  ValueData data;
  std::size_t firstLine = 0, lastLine = 0;  // physical lines it spans
};

struct Section {
  bool ours = false;        // a key of HKEY_LOCAL_MACHINE, not a deletion
  std::string path;         // below the hive, as written in the file
  std::size_t headerLine = 0;
  std::vector<ValueEntry> values;
};

class RegDocument {
 public:
  // A new, empty file.
  RegDocument();
  // Never fails: what cannot be parsed is ignored for reading and kept.
  static RegDocument Parse(const std::string& bytes);

  std::string Serialize() const;

  // A key exists when its section, or a section below it, is present.
  bool KeyExists(const std::string& path) const;
  // The last definition of the value in the key's sections; nullptr when
  // there is none (or the last one deletes it).
  const ValueEntry* FindValue(const std::string& path, const std::string& name) const;

  // Adds a section for the key when it does not exist yet.
  void AddKey(const std::string& path);
  // Sets a REG_SZ value: replaces the lines of its last definition, or adds a
  // line to the key's last section, or a new section at the end. `value` is
  // cut at its first zero byte, as the registry stores strings. False (and
  // nothing changed) when `value` or `name` is not valid UTF-8.
  bool SetSz(const std::string& path, const std::string& name, const std::string& value);

  Encoding encoding() const { return encoding_; }
  const std::vector<Line>& lines() const { return lines_; }
  const std::vector<Section>& sections() const { return sections_; }

 private:
  void ParseLogical();
  std::string EncodeLine(const std::string& utf8) const;  // with line end
  void EnsureLastLineEnded();
  void AppendSection(const std::string& path, const std::vector<std::string>& body);

  Encoding encoding_ = Encoding::kUtf8;
  std::string eol_ = "\n";
  bool regedit4_ = false;  // "REGEDIT4" files hold hex string data as ANSI
  std::vector<Line> lines_;
  std::vector<Section> sections_;
};

// Case-insensitive (ASCII) comparison, as registry key and value names are.
bool NamesEqual(const std::string& a, const std::string& b);

}  // namespace tarnwick::regtext
