// Fuzzes the registry-file text the way a save uses it: parse any bytes as a
// .reg file, create the parameter keys and write the three parameter values,
// write the file out and parse it again. Checked on every input:
//  - parsing and writing back an unchanged file gives the same bytes;
//  - every value written reads back as that REG_SZ text;
//  - every other value of the file (other keys, other names) reads back as it
//    did before, and every key that existed still exists;
//  - writing the changed file and parsing it again is stable.
// The input is the file; its last byte picks the texts written, so the seed
// corpus can hold plain .reg files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/unGlobal.h"
#include "platform/registry/RegText.h"
#include "platform/registry/RegistryHive.h"

namespace {

using tarnwick::regtext::RegDocument;
using tarnwick::regtext::ValueEntry;

constexpr char kParent[] = "SOFTWARE\\Brindlewave";
constexpr char kKey[] = "SOFTWARE\\Brindlewave\\Lib";
const char* const kNames[] = {"ODBCNAME", "USERNAME", "PASSWORD"};

// Texts a user may type: plain, empty, quotes and backslashes, a line break
// (written in hex form), Chinese, a zero byte, invalid UTF-8 (refused).
const std::string kTexts[] = {
    "LibODBC", "", "a\"b\\c", "line\r\nbreak", "图书馆", std::string("cut\0here", 8),
    "\xFF\xFE", " sa "};
constexpr unsigned kTextCount = sizeof kTexts / sizeof kTexts[0];

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "registry file invariant broken: %s %s\n", what, detail.c_str());
  std::abort();
}

std::string NormalKey(const std::string& path) {
  std::size_t b = 0, e = path.size();
  while (b < e && path[b] == '\\') ++b;
  while (e > b && path[e - 1] == '\\') --e;
  std::string out;
  for (std::size_t k = b; k < e; ++k)
    out += (path[k] >= 'A' && path[k] <= 'Z') ? static_cast<char>(path[k] - 'A' + 'a') : path[k];
  return out;
}

bool IsOurs(const std::string& path, const std::string& name) {
  if (NormalKey(path) != NormalKey(kKey)) return false;
  for (const char* n : kNames)
    if (tarnwick::regtext::NamesEqual(name, n)) return true;
  return false;
}

struct Seen {
  std::string path, name;
  bool present = false, parsed = false, deleted = false;
  std::uint32_t type = 0;
  std::size_t dataSize = 0;
  std::string text;
  bool operator==(const Seen&) const = default;
};

Seen Look(const RegDocument& doc, const std::string& path, const std::string& name) {
  Seen s;
  s.path = path;
  s.name = name;
  if (const ValueEntry* v = doc.FindValue(path, name)) {
    s.present = true;
    s.parsed = v->data.parsed;
    s.deleted = v->data.deleted;
    s.type = v->data.type;
    s.dataSize = v->data.dataSize;
    s.text = v->data.text;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const RegDocument before = RegDocument::Parse(bytes);
  if (before.Serialize() != bytes) Fail("unchanged file not written back byte for byte");

  // What the rest of the file holds, before the change.
  std::vector<Seen> others;
  std::vector<std::string> keys;
  for (const auto& section : before.sections()) {
    keys.push_back(section.path);
    for (const ValueEntry& v : section.values)
      if (!IsOurs(section.path, v.name)) others.push_back(Look(before, section.path, v.name));
  }

  // The change a save makes.
  const unsigned pick = size ? data[size - 1] : 0;
  const std::string odbc = kTexts[pick % kTextCount];
  const std::string login = tarnwick::EncodeCredential(kTexts[(pick / kTextCount) % kTextCount]);
  const std::string password = tarnwick::EncodeCredential(kTexts[pick / 64 % kTextCount]);
  const std::string values[] = {odbc, login, password};

  RegDocument doc = before;
  doc.AddKey(kParent);
  doc.AddKey(kKey);
  bool written[3];
  for (int k = 0; k < 3; ++k) written[k] = doc.SetSz(kKey, kNames[k], values[k]);

  const std::string out = doc.Serialize();
  const RegDocument after = RegDocument::Parse(out);
  if (after.Serialize() != out) Fail("written file not stable");

  if (!after.KeyExists(kKey)) Fail("parameter key missing after the save");
  for (int k = 0; k < 3; ++k) {
    if (!written[k]) continue;
    const ValueEntry* v = after.FindValue(kKey, kNames[k]);
    const std::string want = values[k].substr(0, values[k].find('\0'));
    if (!v || !v->data.parsed || v->data.type != tarnwick::regtype::kSz || v->data.text != want)
      Fail("written value does not read back:", kNames[k]);
  }
  for (const std::string& key : keys)
    if (!after.KeyExists(key)) Fail("key lost:", key);
  for (const Seen& seen : others)
    if (!(Look(after, seen.path, seen.name) == seen)) Fail("value changed:", seen.path + " / " + seen.name);
  return 0;
}
