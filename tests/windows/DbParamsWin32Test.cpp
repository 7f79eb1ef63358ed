// Loading and saving the connection parameters through the Win32 registry
// (Wine's in CI): the stored forms, values imported with regedit, values of
// the wrong type, keys the user may not change, and the program's real key.
#include "params/DbParams.h"

#include "app/unGlobal.h"
#include "platform/registry/TRegistry.h"
#include "platform/registry/Win32Hive.h"

#include "RegImport.h"
#include "ScratchKey.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

namespace tarnwick {
namespace {

using testing::CreateRaw;
using testing::GetRaw;
using testing::ImportWithRegedit;
using testing::ReadOnlyAcl;
using testing::ScratchKey;
using testing::SetRaw;
using testing::Utf16Bytes;

// What LoadDbParams handed over; a value not handed over stays unset.
struct Loaded {
  bool found = false;
  std::optional<std::string> odbc, login, password;
};

Loaded Load(RegistryHive& hive) {
  Loaded l;
  DbParamsReceiver r{[&](const std::string& s) { l.odbc = s; },
                     [&](const std::string& s) { l.login = s; },
                     [&](const std::string& s) { l.password = s; }};
  l.found = LoadDbParams(hive, r);
  return l;
}

// Loads, catching the error so that what was handed over before it can be
// checked; `error` is empty when nothing was thrown.
Loaded LoadCatching(RegistryHive& hive, std::string& error) {
  Loaded l;
  DbParamsReceiver r{[&](const std::string& s) { l.odbc = s; },
                     [&](const std::string& s) { l.login = s; },
                     [&](const std::string& s) { l.password = s; }};
  error.clear();
  try {
    l.found = LoadDbParams(hive, r);
  } catch (const ERegistryException& e) {
    error = std::string("ERegistryException: ") + e.what();
  } catch (const EConvertError& e) {
    error = std::string("EConvertError: ") + e.what();
  }
  return l;
}

std::string Text(const testing::RawValue& v) {
  std::wstring w(v.data.size() / 2, L'\0');
  std::memcpy(w.data(), v.data.data(), w.size() * 2);
  if (!w.empty() && w.back() == L'\0') w.pop_back();
  return win32::WideToUtf8(w);
}

// "sa" and "密码" (bytes C3 DC C2 EB in code page 936), four digits a byte.
constexpr char kSaDigits[] = "37073403";
constexpr char kMimaDigits[] = "7007737070047447";

TEST(DbParamsWin32, SavedValuesAreTrimmedEncodedStringsAndLoadBack) {
  ScratchKey scratch;
  Win32Hive hive(scratch.get());
  EXPECT_FALSE(Load(hive).found);

  ASSERT_TRUE(SaveDbParams(hive, "  LibData\t", " sa \r\n", "密码"));
  const REGSAM view = Win32Hive::ViewFlag();
  const struct {
    const char* name;
    const char* stored;
  } expected[] = {{"ODBCNAME", "LibData"},
                  {"USERNAME", kSaDigits},
                  {"PASSWORD", kMimaDigits}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.name);
    const auto raw = GetRaw(scratch.get(), kParamsKey, e.name, view);
    ASSERT_TRUE(raw.exists);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Text(raw), e.stored);
    ASSERT_GE(raw.data.size(), 2u);  // stored with its terminating zero
    EXPECT_EQ(raw.data[raw.data.size() - 2], 0);
    EXPECT_EQ(raw.data.back(), 0);
  }

  const Loaded l = Load(hive);
  EXPECT_TRUE(l.found);
  EXPECT_EQ(l.odbc, "LibData");
  EXPECT_EQ(l.login, "sa");
  EXPECT_EQ(l.password, "密码");
}

TEST(DbParamsWin32, EmptyTextsAreStoredAsEmptyStrings) {
  ScratchKey scratch;
  Win32Hive hive(scratch.get());
  ASSERT_TRUE(SaveDbParams(hive, "", "", ""));
  for (const char* name : {"ODBCNAME", "USERNAME", "PASSWORD"}) {
    const auto raw =
        GetRaw(scratch.get(), kParamsKey, name, Win32Hive::ViewFlag());
    EXPECT_TRUE(raw.exists) << name;
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ)) << name;
    EXPECT_EQ(raw.data, (std::vector<std::uint8_t>{0, 0})) << name;
  }
  const Loaded l = Load(hive);
  EXPECT_TRUE(l.found);
  EXPECT_EQ(l.odbc, "");
  EXPECT_EQ(l.login, "");
  EXPECT_EQ(l.password, "");
}

// Hex list of UTF-16LE text with its zero, as regedit writes hex(2) data.
std::wstring Hex2(const std::wstring& text) {
  std::wstring out;
  for (std::uint8_t b : Utf16Bytes(text)) {
    wchar_t buf[4];
    swprintf(buf, 4, L"%02x", b);
    if (!out.empty()) out += L',';
    out += buf;
  }
  return out;
}

std::wstring RegHeader(const ScratchKey& scratch) {
  return L"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
         testing::As64BitPath(win32::Utf8ToWide(scratch.Path())) +
         L"\\SOFTWARE\\Brindlewave\\Lib]\n";
}

// A key as an administrator carries it over from another machine: exported
// there with regedit (the example export of the README), imported here.
TEST(DbParamsWin32, LoadsAKeyImportedWithRegedit) {
  ScratchKey scratch;
  const std::wstring base =
      L"HKEY_LOCAL_MACHINE\\" +
      testing::As64BitPath(win32::Utf8ToWide(scratch.Path()));
  const std::wstring reg =
      L"Windows Registry Editor Version 5.00\n\n"
      L"[" + base + L"\\SOFTWARE\\Brindlewave]\n\n"
      L"[" + base + L"\\SOFTWARE\\Brindlewave\\Lib]\n"
      L"\"ODBCNAME\"=\"LibData\"\n"
      L"\"USERNAME\"=\"37073403\"\n"
      L"\"PASSWORD\"=\"3070344334040704070007040734\"\n\n";
  ASSERT_EQ(ImportWithRegedit(reg), "");
  Win32Hive hive(scratch.get());
  const Loaded l = Load(hive);
  EXPECT_TRUE(l.found);
  EXPECT_EQ(l.odbc, "LibData");
  EXPECT_EQ(l.login, "sa");
  EXPECT_EQ(l.password, "Lib2026");
}

struct TypeCase {
  const char* label;
  std::wstring values;  // .reg lines
  const char* error;    // expected error, "" for none
  std::optional<std::string> odbc, login, password;
};

// Values of other types, imported with regedit. A string type reads as its
// text (REG_EXPAND_SZ unexpanded); another type is an error when it has
// data and the empty text when it has none; what was handed over before an
// error stays handed over.
TEST(DbParamsWin32, ValuesOfOtherTypes) {
  const std::vector<TypeCase> cases = {
      {"expandable strings, not expanded",
       L"\"ODBCNAME\"=hex(2):" + Hex2(L"%SystemRoot%") + L"\n" +
           L"\"USERNAME\"=hex(2):" + Hex2(L" 37073403\r\n") + L"\n",
       "", "%SystemRoot%", "sa", ""},
      {"binary without data reads empty",
       L"\"ODBCNAME\"=\"LibData\"\n\"USERNAME\"=hex:\n\"PASSWORD\"=hex(4):\n",
       "", "LibData", "", ""},
      {"dword login",
       L"\"ODBCNAME\"=\"LibData\"\n\"USERNAME\"=dword:00000007\n"
       L"\"PASSWORD\"=\"37073403\"\n",
       "ERegistryException: Invalid data type for 'USERNAME'", "LibData",
       std::nullopt, std::nullopt},
      {"binary password",
       L"\"ODBCNAME\"=\"LibData\"\n\"USERNAME\"=\"37073403\"\n"
       L"\"PASSWORD\"=hex:33,37\n",
       "ERegistryException: Invalid data type for 'PASSWORD'", "LibData", "sa",
       std::nullopt},
      {"multi-string data source name",
       L"\"ODBCNAME\"=hex(7):" + Hex2(std::wstring(L"a\0", 2)) + L"\n",
       "ERegistryException: Invalid data type for 'ODBCNAME'", std::nullopt,
       std::nullopt, std::nullopt},
      {"a letter in the login",
       L"\"ODBCNAME\"=\"LibData\"\n\"USERNAME\"=\"3707340x\"\n",
       "EConvertError: 'x' is not a valid integer value", "LibData",
       std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchKey scratch;
    ASSERT_EQ(ImportWithRegedit(RegHeader(scratch) + c.values), "");
    Win32Hive hive(scratch.get());
    std::string error;
    const Loaded l = LoadCatching(hive, error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(l.odbc, c.odbc);
    EXPECT_EQ(l.login, c.login);
    EXPECT_EQ(l.password, c.password);
  }
}

TEST(DbParamsWin32, KeysTheUserMayNotChange) {
  {
    SCOPED_TRACE("both keys present, read only: false, nothing written");
    ScratchKey scratch;
    Win32Hive hive(scratch.get());
    ASSERT_TRUE(SaveDbParams(hive, "Old", "sa", "pw"));
    HKEY lib = CreateRaw(scratch.get(), kParamsKey);
    ASSERT_NE(lib, nullptr);
    {
      ReadOnlyAcl acl(lib);
      ASSERT_TRUE(acl.ok());
      EXPECT_FALSE(SaveDbParams(hive, "New", "x", "y"));
      const Loaded l = Load(hive);  // reading needs no more than read rights
      EXPECT_EQ(l.odbc, "Old");
      EXPECT_EQ(l.login, "sa");
      EXPECT_EQ(l.password, "pw");
    }
    RegCloseKey(lib);
  }
  {
    SCOPED_TRACE("sub-key missing below a read-only parent");
    ScratchKey scratch;
    Win32Hive hive(scratch.get());
    HKEY parent = CreateRaw(scratch.get(), kParamsParentKey);
    ASSERT_NE(parent, nullptr);
    {
      ReadOnlyAcl acl(parent);
      ASSERT_TRUE(acl.ok());
      try {
        SaveDbParams(hive, "New", "x", "y");
        ADD_FAILURE() << "no error";
      } catch (const ERegistryException& e) {
        EXPECT_STREQ(e.what(), "Failed to create key SOFTWARE\\Brindlewave\\Lib");
      }
      EXPECT_FALSE(hive.KeyExists(kParamsKey));
    }
    RegCloseKey(parent);
  }
}

// The program's own key in HKEY_LOCAL_MACHINE: created with its parent by a
// save, found by a load, and kept where a 32-bit build keeps it. Skipped
// where the key already holds parameters, which must not be touched.
TEST(DbParamsWin32, TheProgramsOwnKey) {
  Win32Hive hklm;
  if (hklm.KeyExists(kParamsParentKey)) {
    GTEST_SKIP() << "HKLM\\SOFTWARE\\Brindlewave exists; left alone";
  }
  EXPECT_FALSE(Load(hklm).found);
  ASSERT_TRUE(SaveDbParams(hklm, "LibData", "sa", "密码"));
  const Loaded l = Load(hklm);
  EXPECT_TRUE(l.found);
  EXPECT_EQ(l.odbc, "LibData");
  EXPECT_EQ(l.login, "sa");
  EXPECT_EQ(l.password, "密码");
#ifdef _WIN64
  EXPECT_EQ(Text(GetRaw(HKEY_LOCAL_MACHINE,
                        "SOFTWARE\\Wow6432Node\\Brindlewave\\Lib", "USERNAME",
                        KEY_WOW64_64KEY)),
            kSaDigits);
#endif
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0,
                          KEY_ALL_ACCESS | Win32Hive::ViewFlag(), &software),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(software, L"Brindlewave"), ERROR_SUCCESS);
  RegDeleteKeyW(software, L"Brindlewave");
  RegCloseKey(software);
  EXPECT_FALSE(Load(hklm).found);
}

}  // namespace
}  // namespace tarnwick
