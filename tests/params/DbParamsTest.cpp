#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "app/unGlobal.h"
#include "params/DbParams.h"
#include "platform/registry/RegFileHive.h"
#include "platform/registry/TRegistry.h"
#include "TestFiles.h"

namespace tarnwick {
namespace {

using namespace std::string_literals;
using namespace testing_files;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\n\n";
constexpr char kSection[] = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n";

struct Loaded {
  bool found = false;
  std::vector<std::string> handed;  // in the order handed over
  std::string error;                // "" when none
};

Loaded Load(const std::string& file) {
  RegFileHive hive(file);
  Loaded out;
  DbParamsReceiver r;
  r.odbcName = [&](const std::string& s) { out.handed.push_back(s); };
  r.login = [&](const std::string& s) { out.handed.push_back(s); };
  r.password = [&](const std::string& s) { out.handed.push_back(s); };
  try {
    out.found = LoadDbParams(hive, r);
  } catch (const EConvertError& e) {
    out.error = "EConvertError: "s + e.what();
  } catch (const ERegistryException& e) {
    out.error = "ERegistryException: "s + e.what();
  }
  return out;
}

TEST(LoadDbParams, StoredFormsAndTheirFailures) {
  struct Case {
    const char* what;
    std::string file;  // nullopt-like: "<none>" for no file
    bool found;
    std::vector<std::string> handed;
    std::string error;
  } cases[] = {
      {"no file", "<none>", false, {}, ""},
      {"only the parent key", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\n", false, {}, ""},
      {"key of another hive", std::string(kHeader) + "[HKEY_CURRENT_USER\\SOFTWARE\\Brindlewave\\Lib]\n\"ODBCNAME\"=\"x\"\n", false, {}, ""},
      {"empty key", std::string(kHeader) + kSection, true, {"", "", ""}, ""},
      {"only a key below", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib\\Sub]\n", true, {"", "", ""}, ""},
      {"only ODBCNAME", std::string(kHeader) + kSection + "\"ODBCNAME\"=\"LibODBC\"\n", true, {"LibODBC", "", ""}, ""},
      {"all three", std::string(kHeader) + kSection +
           "\"ODBCNAME\"=\"LibODBC\"\n\"USERNAME\"=\"34033404\"\n\"PASSWORD\"=\"340334043407\"\n",
       true, {"LibODBC", "ab", "abc"}, ""},
      {"trimmed, blanks and control bytes around", std::string(kHeader) + kSection +
           "\"ODBCNAME\"=\" \tLib ODBC\x1F \"\n\"USERNAME\"=\"  34033404\t\"\n",
       true, {"Lib ODBC", "ab", ""}, ""},
      {"line breaks around the login (hex form)", std::string(kHeader) + kSection +
           "\"USERNAME\"=hex(1):0d,00,0a,00,33,00,34,00,30,00,33,00,33,00,34,00,30,00,34,00,0d,00,0a,00,00,00\n",
       true, {"", "ab", ""}, ""},
      {"five digits: empty, no error", std::string(kHeader) + kSection + "\"USERNAME\"=\"34033\"\n", true, {"", "", ""}, ""},
      {"9999 and 0000", std::string(kHeader) + kSection + "\"USERNAME\"=\"9999\"\n\"PASSWORD\"=\"00003403\"\n",
       true, {"", "T", "\0a"s}, ""},
      {"a Chinese login (code page 936 bytes)", std::string(kHeader) + kSection + "\"USERNAME\"=\"73347300\"\n\"PASSWORD\"=\"4000\"\n",
       true, {"", "中", "€"}, ""},
      {"REG_EXPAND_SZ is read, not expanded", std::string(kHeader) + kSection +
           "\"ODBCNAME\"=hex(2):25,00,44,00,53,00,4e,00,25,00,00,00\n",
       true, {"%DSN%", "", ""}, ""},
      {"values without data of any type", std::string(kHeader) + kSection +
           "\"ODBCNAME\"=hex:\n\"USERNAME\"=hex(4):\n\"PASSWORD\"=hex(7):\n",
       true, {"", "", ""}, ""},
      {"a letter in the login", std::string(kHeader) + kSection +
           "\"ODBCNAME\"=\"LibODBC\"\n\"USERNAME\"=\"3403340x\"\n\"PASSWORD\"=\"34033404\"\n",
       true, {"LibODBC"}, "EConvertError: 'x' is not a valid integer value"},
      {"a letter in the password", std::string(kHeader) + kSection +
           "\"ODBCNAME\"=\"LibODBC\"\n\"USERNAME\"=\"34033404\"\n\"PASSWORD\"=\"3A03\"\n",
       false, {"LibODBC", "ab"}, "EConvertError: 'A' is not a valid integer value"},
      {"a DWORD login", std::string(kHeader) + kSection + "\"ODBCNAME\"=\"LibODBC\"\n\"USERNAME\"=dword:00000001\n",
       false, {"LibODBC"}, "ERegistryException: Invalid data type for 'USERNAME'"},
      {"an unreadable ODBCNAME", std::string(kHeader) + kSection + "\"ODBCNAME\"=\"no closing quote\n\"USERNAME\"=\"34033404\"\n",
       false, {}, "ERegistryException: Invalid data type for 'ODBCNAME'"},
      {"garbage around the key", "\x01\x02 binary\n" + std::string(kSection) + "junk\n\"ODBCNAME\"=\"ok\"\n[unterminated\n\"PASSWORD\"=\"x\"\n",
       true, {"ok", "", ""}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const fs::path file = dir / "HKLM.reg";
    if (c.file != "<none>") WriteAll(file, c.file);
    const Loaded got = Load(file.string());
    EXPECT_EQ(got.error, c.error);
    if (c.error.empty()) {
      EXPECT_EQ(got.found, c.found);
    }
    EXPECT_EQ(got.handed, c.handed);
  }
}

TEST(LoadDbParams, ReadsARegeditUtf16ExportWithCrLf) {
  // What the registry editor writes when the key is exported on Windows.
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\r\n\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\r\n"
      u"\"ODBCNAME\"=\"图书馆ODBC\"\r\n"
      u"\"USERNAME\"=\"73347300\"\r\n"
      u"\"PASSWORD\"=\"340334043407\"\r\n\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t u : text) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  TempDir dir;
  WriteAll(dir / "HKLM.reg", bytes);
  const Loaded got = Load((dir / "HKLM.reg").string());
  EXPECT_TRUE(got.found);
  EXPECT_EQ(got.handed, (std::vector<std::string>{"图书馆ODBC", "中", "abc"}));

  // Saving into it keeps it a UTF-16 file that loads the new values.
  RegFileHive hive((dir / "HKLM.reg").string());
  ASSERT_TRUE(SaveDbParams(hive, "新ODBC", "sa", ""));
  const std::string after = ReadAll(dir / "HKLM.reg");
  EXPECT_EQ(after.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(Load((dir / "HKLM.reg").string()).handed, (std::vector<std::string>{"新ODBC", "sa", ""}));
}

TEST(SaveDbParams, StoresTrimmedTextsWithEncodedCredentials) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  RegFileHive hive(file.string());
  ASSERT_TRUE(SaveDbParams(hive, "  LibODBC \n", " sa\t", "中"));
  EXPECT_EQ(ReadAll(file),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
            "\"ODBCNAME\"=\"LibODBC\"\n"
            "\"USERNAME\"=\"" + EncodeCredential("sa") + "\"\n"
            "\"PASSWORD\"=\"73347300\"\n");
  EXPECT_EQ(Load(file.string()).handed, (std::vector<std::string>{"LibODBC", "sa", "中"}));

  // Saving again replaces the three values in place; the rest stays.
  WriteAll(file, ReadAll(file) + "; after\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"X\"=\"1\"\n");
  ASSERT_TRUE(SaveDbParams(hive, "", "", ""));
  EXPECT_EQ(ReadAll(file),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
            "\"ODBCNAME\"=\"\"\n\"USERNAME\"=\"\"\n\"PASSWORD\"=\"\"\n"
            "; after\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"X\"=\"1\"\n");
  const Loaded empty = Load(file.string());
  EXPECT_TRUE(empty.found);
  EXPECT_EQ(empty.handed, (std::vector<std::string>{"", "", ""}));
}

TEST(SaveDbParams, AnExistingKeyIsNotCreatedAgain) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  const std::string before = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n\"USERNAME\"=\"old\"\n";
  WriteAll(file, before);
  RegFileHive hive(file.string());
  ASSERT_TRUE(SaveDbParams(hive, "dsn", "a", "b"));
  EXPECT_EQ(ReadAll(file), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n\"USERNAME\"=\"" +
                               EncodeCredential("a") + "\"\n\"ODBCNAME\"=\"dsn\"\n\"PASSWORD\"=\"" +
                               EncodeCredential("b") + "\"\n");
}

TEST(SaveDbParams, ACredentialTheCodePageCannotHoldIsRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  RegFileHive hive(file.string());
  try {
    SaveDbParams(hive, "dsn", "sa", "pass😀");
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 6), "'😀'");
  }
  EXPECT_FALSE(fs::exists(file));
}

TEST(SaveDbParams, ARefusedWriteNamesTheValueAndKeepsEarlierOnes) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  RegFileHive hive(file.string());
  ASSERT_TRUE(SaveDbParams(hive, "first", "u", "p"));
  // A data source name that is not UTF-8 cannot be stored as text.
  try {
    SaveDbParams(hive, "bad\xFF", "u2", "p2");
    ADD_FAILURE() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'ODBCNAME'");
  }
  EXPECT_EQ(Load(file.string()).handed, (std::vector<std::string>{"first", "u", "p"}));
}

}  // namespace
}  // namespace tarnwick
