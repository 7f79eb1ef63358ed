// Registry access for one operation: create an instance over the hive
// (HKEY_LOCAL_MACHINE), open a key, read or write its values, close it. The
// key is closed when the instance goes away.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/registry/RegistryHive.h"

namespace tarnwick {

// A registry operation that failed: a key that cannot be created, a value
// that cannot be written, a value of the wrong type.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TRegistry {
 public:
  // The root is HKEY_LOCAL_MACHINE, the hive behind `hive`.
  explicit TRegistry(RegistryHive& hive);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // Whether the key exists; asks for read rights only.
  bool KeyExists(const std::string& key);
  // Opens an existing key for reading. False when it cannot be opened.
  bool OpenKeyReadOnly(const std::string& key);
  // Opens the key with full access, creating it when `canCreate` is set.
  // False when it cannot be opened (or created) for writing.
  bool OpenKey(const std::string& key, bool canCreate);
  // Creates the key; throws ERegistryException "Failed to create key <key>".
  void CreateKey(const std::string& key);

  // The string value `name` of the open key. Missing, without data, or no key
  // open: the empty text. REG_SZ / REG_EXPAND_SZ: the text up to its first
  // zero character, not expanded. Any other type with data, or data the store
  // cannot read: ERegistryException "Invalid data type for '<name>'".
  std::string ReadString(const std::string& name);
  // Writes a REG_SZ value; throws ERegistryException
  // "Failed to set data for '<name>'" when refused (or no key is open).
  void WriteString(const std::string& name, const std::string& value);

  void CloseKey();
  // The open key's path, empty when none is open.
  const std::string& CurrentPath() const { return currentPath_; }

 private:
  static std::string Relative(const std::string& key);

  RegistryHive& hive_;
  std::unique_ptr<RegistryKey> key_;
  std::string currentPath_;
};

}  // namespace tarnwick
