// The narrow interface between the registry class (TRegistry) and the store
// that holds a hive: a .reg file on Linux, the Win32 registry on Windows.
// Key paths are relative to the hive, components separated by '\', e.g.
// "SOFTWARE\\Brindlewave\\Lib". Names and texts are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarnwick {

// Registry value types, with the numbers Windows gives them.
namespace regtype {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kSz = 1;
inline constexpr std::uint32_t kExpandSz = 2;
inline constexpr std::uint32_t kBinary = 3;
inline constexpr std::uint32_t kDword = 4;
inline constexpr std::uint32_t kMultiSz = 7;
inline constexpr std::uint32_t kQword = 11;
}  // namespace regtype

// What a read of one value found.
struct RegValueInfo {
  bool exists = false;        // the value is present in the key
  std::uint32_t type = 0;     // its type (regtype::...)
  std::size_t dataSize = 0;   // bytes of data as the registry stores them
  std::string text;           // for kSz / kExpandSz: the text up to its first
                              // zero character (not expanded); else empty
  bool unparsable = false;    // the store holds the value in a form it cannot
                              // read; reading it is an error, never a guess
};

// An open key. Closing is destruction; a key opened for writing releases
// whatever it holds (a lock, a handle) when destroyed.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual RegValueInfo ReadValue(const std::string& name) = 0;
  // Writes `text` as a REG_SZ value (data includes the terminating zero).
  // False when the store refuses the write.
  virtual bool WriteSz(const std::string& name, const std::string& text) = 0;
};

class RegistryHive {
 public:
  virtual ~RegistryHive() = default;
  // Whether the key exists, asking for read rights only.
  virtual bool KeyExists(const std::string& path) = 0;
  // Opens an existing key for reading; nullptr when it cannot be opened.
  virtual std::unique_ptr<RegistryKey> OpenForRead(const std::string& path) = 0;
  // Opens a key with full access, creating it when `create` is set and it is
  // missing; nullptr when it cannot be opened (or created) for writing.
  virtual std::unique_ptr<RegistryKey> OpenForWrite(const std::string& path,
                                                    bool create) = 0;
  // Creates the key (and nothing else); false when that fails.
  virtual bool CreateKey(const std::string& path) = 0;
};

}  // namespace tarnwick
