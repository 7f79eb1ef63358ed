// The HKEY_LOCAL_MACHINE hive kept in one .reg text file (systems without a
// Windows registry).
//
// Reading takes a snapshot of the file; a missing file is an empty hive and a
// file the process may not read behaves as if it held no key. Every change is
// a read-modify-write under an exclusive advisory lock: the new text goes to a
// temporary file in the same folder, is flushed to disk and renamed over the
// hive, and the folder is flushed, so a process killed at any moment leaves
// either the old or the new file. Lines that a change does not touch stay byte
// for byte; the file keeps its mode (a new one gets 0644).
#pragma once

#include <string>

#include "platform/registry/RegistryHive.h"

namespace tarnwick {

class RegFileHive : public RegistryHive {
 public:
  explicit RegFileHive(std::string path);

  bool KeyExists(const std::string& path) override;
  std::unique_ptr<RegistryKey> OpenForRead(const std::string& path) override;
  std::unique_ptr<RegistryKey> OpenForWrite(const std::string& path, bool create) override;
  bool CreateKey(const std::string& path) override;

  const std::string& file() const { return file_; }

  // Longest a writer waits for another writer's lock before giving up.
  static constexpr int kLockWaitMs = 10000;
  // Larger files are not read (treated like unreadable ones).
  static constexpr long long kMaxFileBytes = 64LL * 1024 * 1024;

 private:
  class ReadKey;
  class WriteKey;
  friend class WriteKey;

  std::string file_;
};

}  // namespace tarnwick
