// Files that fuzzing of the registry-file reader and writer found a save to
// mishandle, each saved through the real file hive: the other contents of the
// file must read the same afterwards, and the saved values must read back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "params/DbParams.h"
#include "platform/registry/RegFileHive.h"
#include "platform/registry/RegText.h"
#include "platform/registry/RegistryHive.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;
using regtext::RegDocument;

std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string WithoutLastByte(std::string s) {
  s.pop_back();
  return s;
}

const std::string kBom = "\xFF\xFE";
const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

struct Case {
  const char* what;
  std::string file;
  const char* otherKey;    // a value of the file that is not ours
  const char* otherValue;
};

class SaveIntoFuzzFound : public ::testing::TestWithParam<Case> {};

TEST_P(SaveIntoFuzzFound, KeepsTheRestOfTheFileAndReadsBack) {
  const Case& c = GetParam();
  std::string tmpl = (fs::temp_directory_path() / "tarnwick-regress-XXXXXX").string();
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  const fs::path dir = tmpl;
  const fs::path file = dir / "HKLM.reg";
  std::ofstream(file, std::ios::binary) << c.file;

  const RegDocument before = RegDocument::Parse(c.file);
  const regtext::ValueEntry* was = before.FindValue(c.otherKey, c.otherValue);
  ASSERT_NE(was, nullptr);

  RegFileHive hive(file.string());
  ASSERT_TRUE(SaveDbParams(hive, "LibODBC", "sa", "pw"));

  std::stringstream ss;
  ss << std::ifstream(file, std::ios::binary).rdbuf();
  const std::string saved = ss.str();
  EXPECT_EQ(saved.substr(0, c.file.size()), c.file) << "the old bytes are kept in front";
  const RegDocument after = RegDocument::Parse(saved);
  const regtext::ValueEntry* now = after.FindValue(c.otherKey, c.otherValue);
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(now->data.parsed, was->data.parsed);
  EXPECT_EQ(now->data.type, was->data.type);
  EXPECT_EQ(now->data.dataSize, was->data.dataSize);
  EXPECT_EQ(now->data.text, was->data.text);

  std::string odbc, login, password;
  EXPECT_TRUE(LoadDbParams(hive, {[&](const std::string& v) { odbc = v; },
                                  [&](const std::string& v) { login = v; },
                                  [&](const std::string& v) { password = v; }}));
  EXPECT_EQ(odbc, "LibODBC");
  EXPECT_EQ(login, "sa");
  EXPECT_EQ(password, "pw");
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveIntoFuzzFound,
    ::testing::Values(
        // Hex data cut off after a continuation mark at the end of the file:
        // the blank line a save appends used to complete it into one byte.
        Case{"dangling continuation", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Tail\"=hex:00,\\",
             "SOFTWARE\\Other", "Tail"},
        // A file whose last line ends in a bare CR: the line end a save
        // added after it used to leave the CR inside the line, unreadable.
        Case{"bare CR at the end", kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Keep\"=\"b\"\r",
             "SOFTWARE\\Other", "Keep"},
        // A UTF-16 file of odd length whose last bytes happen to be "\n\0" one
        // byte out of step: the new lines used to be written out of step too,
        // so the saved key could not be read back.
        Case{"odd-length UTF-16 ending in a stray line break",
             kBom + Utf16(kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Keep\"=\"x\"\r\n") + "A\n" +
                 std::string(1, '\0'),
             "SOFTWARE\\Other", "Keep"},
        // A UTF-16 file cut off in the middle of a character, inside hex data:
        // the byte added to re-align used to complete the character and so
        // made the cut-off data readable.
        Case{"UTF-16 cut inside hex data",
             WithoutLastByte(kBom + Utf16(kHeader + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n"
                                                    "\"Path\"=hex(2):41,00,4")),
             "SOFTWARE\\Other", "Path"}),
    [](const ::testing::TestParamInfo<Case>& info) { return "case" + std::to_string(info.index); });

}  // namespace
}  // namespace tarnwick
