// The registry backend on the Win32 registry API (Windows builds only).
#pragma once

#include "platform/registry/RegistryHive.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace tarnwick {

// Keys are opened with read rights (KEY_READ) for KeyExists and OpenForRead,
// and with KEY_ALL_ACCESS for CreateKey and OpenForWrite. A 64-bit build asks
// for the 32-bit registry view (KEY_WOW64_32KEY), so it finds the same key as
// a 32-bit build of the program, which names no view.
class Win32Hive : public RegistryHive {
 public:
  // HKEY_LOCAL_MACHINE.
  Win32Hive();
  // The hive rooted at `root`, an open key that stays owned by the caller and
  // must outlive this object.
  explicit Win32Hive(HKEY root);

  bool KeyExists(const std::string& path) override;
  std::unique_ptr<RegistryKey> OpenForRead(const std::string& path) override;
  std::unique_ptr<RegistryKey> OpenForWrite(const std::string& path,
                                            bool create) override;
  bool CreateKey(const std::string& path) override;

  // The view flag added to every access mask (0 on a 32-bit build).
  static REGSAM ViewFlag();

 private:
  HKEY root_;
};

}  // namespace tarnwick
