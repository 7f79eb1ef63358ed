#include "platform/registry/Win32Hive.h"

#include "platform/text/Utf16Win32.h"

#include <cstring>
#include <vector>

namespace tarnwick {
namespace {

// One open registry key; closed when destroyed.
class Win32Key : public RegistryKey {
 public:
  explicit Win32Key(HKEY key) : key_(key) {}
  ~Win32Key() override { RegCloseKey(key_); }
  Win32Key(const Win32Key&) = delete;
  Win32Key& operator=(const Win32Key&) = delete;

  RegValueInfo ReadValue(const std::string& name) override {
    RegValueInfo info;
    const std::wstring wname = win32::Utf8ToWide(name);
    std::vector<BYTE> data;
    DWORD type = REG_NONE;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr,
                               &size);
    // The value may grow between asking for its size and reading it; ask
    // again then, a bounded number of times.
    for (int attempt = 0; rc == ERROR_SUCCESS && attempt < 8; ++attempt) {
      data.resize(size);
      DWORD got = size;
      rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &type,
                            data.empty() ? nullptr : data.data(), &got);
      if (rc == ERROR_MORE_DATA) {
        size = got > size ? got : size * 2 + 2;
        rc = ERROR_SUCCESS;
        continue;
      }
      data.resize(got);
      break;
    }
    if (rc == ERROR_FILE_NOT_FOUND) return info;  // no such value
    info.exists = true;
    if (rc != ERROR_SUCCESS) {
      // Present but unreadable (access, a value that keeps changing): an
      // error for the caller, never an empty text.
      info.unparsable = true;
      return info;
    }
    info.type = type;
    info.dataSize = data.size();
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      // UTF-16 up to the first zero character; an odd last byte is no
      // character. REG_EXPAND_SZ stays unexpanded.
      std::wstring text(data.size() / sizeof(wchar_t), L'\0');
      if (!text.empty()) {
        std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
      }
      const std::size_t end = text.find(L'\0');
      if (end != std::wstring::npos) text.resize(end);
      info.text = win32::WideToUtf8(text);
    }
    return info;
  }

  bool WriteSz(const std::string& name, const std::string& text) override {
    const std::wstring wname = win32::Utf8ToWide(name);
    const std::wstring wtext = win32::Utf8ToWide(text);
    // The data includes the terminating zero character.
    const DWORD bytes =
        static_cast<DWORD>((wtext.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key_, wname.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wtext.c_str()),
                          bytes) == ERROR_SUCCESS;
  }

 private:
  HKEY key_;
};

}  // namespace

Win32Hive::Win32Hive() : root_(HKEY_LOCAL_MACHINE) {}
Win32Hive::Win32Hive(HKEY root) : root_(root) {}

REGSAM Win32Hive::ViewFlag() {
#ifdef _WIN64
  return KEY_WOW64_32KEY;
#else
  return 0;
#endif
}

bool Win32Hive::KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_, win32::Utf8ToWide(path).c_str(), 0,
                    KEY_READ | ViewFlag(), &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

std::unique_ptr<RegistryKey> Win32Hive::OpenForRead(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_, win32::Utf8ToWide(path).c_str(), 0,
                    KEY_READ | ViewFlag(), &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return std::make_unique<Win32Key>(key);
}

std::unique_ptr<RegistryKey> Win32Hive::OpenForWrite(const std::string& path,
                                                     bool create) {
  HKEY key = nullptr;
  const std::wstring wpath = win32::Utf8ToWide(path);
  const LONG rc =
      create ? RegCreateKeyExW(root_, wpath.c_str(), 0, nullptr,
                               REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS | ViewFlag(), nullptr, &key,
                               nullptr)
             : RegOpenKeyExW(root_, wpath.c_str(), 0,
                             KEY_ALL_ACCESS | ViewFlag(), &key);
  if (rc != ERROR_SUCCESS) return nullptr;
  return std::make_unique<Win32Key>(key);
}

bool Win32Hive::CreateKey(const std::string& path) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root_, win32::Utf8ToWide(path).c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | ViewFlag(),
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

}  // namespace tarnwick
