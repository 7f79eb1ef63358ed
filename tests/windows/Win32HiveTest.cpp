// The Win32 registry backend against the real registry (Wine's in CI).
#include "platform/registry/Win32Hive.h"

#include "ScratchKey.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using testing::CreateRaw;
using testing::GetRaw;
using testing::ReadOnlyAcl;
using testing::ScratchKey;
using testing::SetRaw;
using testing::Utf16Bytes;

constexpr std::size_t kAnySize = static_cast<std::size_t>(-1);

struct ReadCase {
  const char* label;
  DWORD type;
  std::vector<std::uint8_t> data;
  std::uint32_t wantType;
  std::size_t wantSize;
  std::string wantText;
};

TEST(Win32Hive, ReadsEachKindOfValueAsStored) {
  const std::vector<ReadCase> cases = {
      {"plain text", REG_SZ, Utf16Bytes(L"dsn1"), regtype::kSz, 10, "dsn1"},
      {"Chinese text", REG_SZ, Utf16Bytes(L"\x5bc6\x7801"), regtype::kSz, 6,
       "密码"},
      {"cut at the first zero", REG_SZ, Utf16Bytes(std::wstring(L"ab\0cd", 5)),
       regtype::kSz, 12, "ab"},
      // Wine reports room for a zero it adds; Windows the 6 bytes stored.
      {"no terminating zero", REG_SZ, Utf16Bytes(L"abc", false), regtype::kSz,
       kAnySize, "abc"},
      {"odd byte count", REG_SZ, {'a', 0, 'b'}, regtype::kSz, 3, "a"},
      {"empty string", REG_SZ, Utf16Bytes(L""), regtype::kSz, 2, ""},
      {"no data at all", REG_SZ, {}, regtype::kSz, 0, ""},
      {"expandable, not expanded", REG_EXPAND_SZ,
       Utf16Bytes(L"%SystemRoot%\\x"), regtype::kExpandSz, 30,
       "%SystemRoot%\\x"},
      {"dword", REG_DWORD, {1, 0, 0, 0}, regtype::kDword, 4, ""},
      {"binary with data", REG_BINARY, {0x33, 0x34}, regtype::kBinary, 2, ""},
      {"binary without data", REG_BINARY, {}, regtype::kBinary, 0, ""},
      {"multi-string", REG_MULTI_SZ, Utf16Bytes(std::wstring(L"a\0b\0", 4)),
       regtype::kMultiSz, 10, ""},
  };
  ScratchKey scratch;
  Win32Hive hive(scratch.get());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SetRaw(scratch.get(), "K", std::to_string(i), cases[i].type,
           cases[i].data);
  }
  auto key = hive.OpenForRead("K");
  ASSERT_NE(key, nullptr);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].label);
    const RegValueInfo info = key->ReadValue(std::to_string(i));
    EXPECT_TRUE(info.exists);
    EXPECT_FALSE(info.unparsable);
    EXPECT_EQ(info.type, cases[i].wantType);
    if (cases[i].wantSize == kAnySize) {
      EXPECT_GT(info.dataSize, 0u);
    } else {
      EXPECT_EQ(info.dataSize, cases[i].wantSize);
    }
    EXPECT_EQ(info.text, cases[i].wantText);
  }
  EXPECT_FALSE(key->ReadValue("missing").exists);
}

TEST(Win32Hive, LongTextIsReadWhole) {
  ScratchKey scratch;
  const std::wstring text(5000, L'7');
  SetRaw(scratch.get(), "K", "V", REG_SZ, Utf16Bytes(text));
  Win32Hive hive(scratch.get());
  auto key = hive.OpenForRead("K");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->ReadValue("V").text, std::string(5000, '7'));
}

TEST(Win32Hive, WritesStringValuesWithTheirTerminatingZero) {
  ScratchKey scratch;
  Win32Hive hive(scratch.get());
  auto key = hive.OpenForWrite("A\\B", /*create=*/true);
  ASSERT_NE(key, nullptr);
  ASSERT_TRUE(key->WriteSz("ODBCNAME", "图书馆"));
  ASSERT_TRUE(key->WriteSz("EMPTY", ""));
  key.reset();

  const REGSAM view = Win32Hive::ViewFlag();
  const auto text = GetRaw(scratch.get(), "A\\B", "ODBCNAME", view);
  ASSERT_TRUE(text.exists);
  EXPECT_EQ(text.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(text.data, Utf16Bytes(L"\x56fe\x4e66\x9986"));
  const auto empty = GetRaw(scratch.get(), "A\\B", "EMPTY", view);
  ASSERT_TRUE(empty.exists);
  EXPECT_EQ(empty.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(empty.data, (std::vector<std::uint8_t>{0, 0}));

  // And back through the backend.
  auto again = hive.OpenForRead("A\\B");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->ReadValue("ODBCNAME").text, "图书馆");
}

TEST(Win32Hive, MissingKeysAndCreation) {
  ScratchKey scratch;
  Win32Hive hive(scratch.get());
  EXPECT_FALSE(hive.KeyExists("P\\Q"));
  EXPECT_EQ(hive.OpenForRead("P\\Q"), nullptr);
  EXPECT_EQ(hive.OpenForWrite("P\\Q", /*create=*/false), nullptr);
  EXPECT_FALSE(hive.KeyExists("P\\Q"));  // asking did not create it

  EXPECT_TRUE(hive.CreateKey("P\\Q"));  // parents come with it
  EXPECT_TRUE(hive.KeyExists("P"));
  EXPECT_TRUE(hive.KeyExists("P\\Q"));
  EXPECT_TRUE(hive.CreateKey("P\\Q"));  // already there: still fine
  EXPECT_NE(hive.OpenForWrite("P\\Q", /*create=*/false), nullptr);
}

// The program's own hive is HKEY_LOCAL_MACHINE as a 32-bit build sees it: on
// 64-bit Windows that is the Wow6432Node branch of SOFTWARE.
TEST(Win32Hive, LocalMachineUsesThe32BitView) {
  const std::string name =
      "TarnwickViewTest-" + std::to_string(GetCurrentProcessId());
  Win32Hive hklm;
  {
    auto key = hklm.OpenForWrite("SOFTWARE\\" + name, /*create=*/true);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->WriteSz("X", "1"));
  }
  EXPECT_TRUE(hklm.KeyExists("SOFTWARE\\" + name));
#ifdef _WIN64
  const auto in32 = GetRaw(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\" + name,
                           "X", KEY_WOW64_64KEY);
  const auto in64 =
      GetRaw(HKEY_LOCAL_MACHINE, "SOFTWARE\\" + name, "X", KEY_WOW64_64KEY);
  EXPECT_TRUE(in32.exists) << "not in the 32-bit view";
  EXPECT_FALSE(in64.exists) << "leaked into the 64-bit view";
#endif
  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE", 0,
                          KEY_ALL_ACCESS | Win32Hive::ViewFlag(), &software),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(software, win32::Utf8ToWide(name).c_str()),
            ERROR_SUCCESS);
  RegCloseKey(software);
  EXPECT_FALSE(hklm.KeyExists("SOFTWARE\\" + name));
}

// A key the user may read but not change: reading works, opening it for
// writing and creating below it fail, and nothing is written.
TEST(Win32Hive, KeyThatMayOnlyBeRead) {
  ScratchKey scratch;
  SetRaw(scratch.get(), "RO", "V", REG_SZ, Utf16Bytes(L"kept"));
  HKEY ro = CreateRaw(scratch.get(), "RO");
  ASSERT_NE(ro, nullptr);
  {
    ReadOnlyAcl acl(ro);
    ASSERT_TRUE(acl.ok());
    Win32Hive hive(scratch.get());
    EXPECT_TRUE(hive.KeyExists("RO"));
    auto reader = hive.OpenForRead("RO");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->ReadValue("V").text, "kept");
    EXPECT_EQ(hive.OpenForWrite("RO", /*create=*/false), nullptr);
    EXPECT_EQ(hive.OpenForWrite("RO", /*create=*/true), nullptr);
    EXPECT_FALSE(hive.CreateKey("RO\\Sub"));
    EXPECT_FALSE(hive.KeyExists("RO\\Sub"));
  }
  RegCloseKey(ro);
}

}  // namespace
}  // namespace tarnwick
