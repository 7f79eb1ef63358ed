// A registry key of its own for each test, in the 32-bit view of
// HKEY_LOCAL_MACHINE (where the program keeps its parameters), deleted with
// everything below it when the test ends.
#pragma once

#include "platform/registry/Win32Hive.h"
#include "platform/text/Utf16Win32.h"

#include <gtest/gtest.h>

#include <aclapi.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

inline constexpr wchar_t kScratchParent[] = L"SOFTWARE\\TarnwickTests";

class ScratchKey {
 public:
  ScratchKey() {
    static int counter = 0;
    name_ = std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    path_ = std::wstring(kScratchParent) + L"\\" + name_;
    const LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0,
                                    nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_ALL_ACCESS | Win32Hive::ViewFlag(),
                                    nullptr, &key_, nullptr);
    if (rc != ERROR_SUCCESS) {
      ADD_FAILURE() << "cannot create the scratch key, error " << rc;
      key_ = nullptr;
    }
  }
  ~ScratchKey() {
    if (key_ != nullptr) RegCloseKey(key_);
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kScratchParent, 0,
                      KEY_ALL_ACCESS | Win32Hive::ViewFlag(),
                      &parent) == ERROR_SUCCESS) {
      RegDeleteTreeW(parent, name_.c_str());
      RegDeleteKeyW(parent, name_.c_str());
      RegCloseKey(parent);
    }
  }
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;

  HKEY get() const { return key_; }
  // The scratch key's path below HKEY_LOCAL_MACHINE, as the 32-bit view
  // names it.
  std::string Path() const { return win32::WideToUtf8(path_); }

 private:
  std::wstring name_;
  std::wstring path_;
  HKEY key_ = nullptr;
};

// Opens (creating) `path` below `root` with full access; nullptr on failure.
inline HKEY CreateRaw(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, win32::Utf8ToWide(path).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS | Win32Hive::ViewFlag(), nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return key;
}

// Stores raw bytes as a value of any type, bypassing the code under test.
inline void SetRaw(HKEY root, const std::string& path, const std::string& name,
                   DWORD type, const std::vector<std::uint8_t>& data) {
  HKEY key = CreateRaw(root, path);
  ASSERT_NE(key, nullptr) << path;
  const LONG rc = RegSetValueExW(key, win32::Utf8ToWide(name).c_str(), 0, type,
                                 data.empty() ? nullptr : data.data(),
                                 static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  ASSERT_EQ(rc, ERROR_SUCCESS) << name;
}

// UTF-16LE bytes of `text`, with a terminating zero when `zero` is set.
inline std::vector<std::uint8_t> Utf16Bytes(const std::wstring& text,
                                            bool zero = true) {
  std::vector<std::uint8_t> out;
  for (wchar_t c : text) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>((c >> 8) & 0xFF));
  }
  if (zero) out.insert(out.end(), {0, 0});
  return out;
}

struct RawValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::vector<std::uint8_t> data;
};

// Reads a value as the registry holds it.
inline RawValue GetRaw(HKEY root, const std::string& path,
                       const std::string& name, REGSAM view) {
  RawValue v;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, win32::Utf8ToWide(path).c_str(), 0, KEY_READ | view,
                    &key) != ERROR_SUCCESS) {
    return v;
  }
  const std::wstring wname = win32::Utf8ToWide(name);
  DWORD size = 0;
  if (RegQueryValueExW(key, wname.c_str(), nullptr, &v.type, nullptr, &size) ==
      ERROR_SUCCESS) {
    v.data.resize(size);
    v.exists = RegQueryValueExW(key, wname.c_str(), nullptr, &v.type,
                                v.data.empty() ? nullptr : v.data.data(),
                                &size) == ERROR_SUCCESS;
    v.data.resize(size);
  }
  RegCloseKey(key);
  return v;
}

// Lets everyone only read `key` (no inheritance from its parent) for the life
// of the object, as for a user who may not change it; the handle's own
// WRITE_DAC right brings full access back at the end.
class ReadOnlyAcl {
 public:
  explicit ReadOnlyAcl(HKEY key) : key_(key) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0,
                             0, &everyone_);
    ok_ = Set(KEY_READ);
  }
  ~ReadOnlyAcl() {
    Set(KEY_ALL_ACCESS);
    FreeSid(everyone_);
  }
  bool ok() const { return ok_; }

 private:
  bool Set(DWORD rights) {
    EXPLICIT_ACCESSW ea{};
    ea.grfAccessPermissions = rights;
    ea.grfAccessMode = SET_ACCESS;
    ea.grfInheritance = NO_INHERITANCE;
    ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    ea.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    ea.Trustee.ptstrName = static_cast<LPWSTR>(everyone_);
    PACL acl = nullptr;
    if (SetEntriesInAclW(1, &ea, nullptr, &acl) != ERROR_SUCCESS) return false;
    const DWORD rc = SetSecurityInfo(
        key_, SE_REGISTRY_KEY,
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    return rc == ERROR_SUCCESS;
  }
  HKEY key_;
  PSID everyone_ = nullptr;
  bool ok_ = false;
};

}  // namespace tarnwick::testing
