#include "platform/registry/TRegistry.h"

namespace tarnwick {

TRegistry::TRegistry(RegistryHive& hive) : hive_(hive) {}

TRegistry::~TRegistry() { CloseKey(); }

std::string TRegistry::Relative(const std::string& key) {
  std::size_t b = 0, e = key.size();
  while (b < e && key[b] == '\\') ++b;
  while (e > b && key[e - 1] == '\\') --e;
  return key.substr(b, e - b);
}

bool TRegistry::KeyExists(const std::string& key) { return hive_.KeyExists(Relative(key)); }

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  CloseKey();
  key_ = hive_.OpenForRead(Relative(key));
  if (key_) currentPath_ = Relative(key);
  return key_ != nullptr;
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  CloseKey();
  key_ = hive_.OpenForWrite(Relative(key), canCreate);
  if (key_) currentPath_ = Relative(key);
  return key_ != nullptr;
}

void TRegistry::CreateKey(const std::string& key) {
  if (!hive_.CreateKey(Relative(key)))
    throw ERegistryException("Failed to create key " + Relative(key));
}

std::string TRegistry::ReadString(const std::string& name) {
  if (!key_) return {};
  const RegValueInfo info = key_->ReadValue(name);
  if (!info.exists) return {};
  if (info.unparsable) throw ERegistryException("Invalid data type for '" + name + "'");
  if (info.dataSize == 0) return {};
  if (info.type != regtype::kSz && info.type != regtype::kExpandSz)
    throw ERegistryException("Invalid data type for '" + name + "'");
  return info.text;
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  if (!key_ || !key_->WriteSz(name, value))
    throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::CloseKey() {
  key_.reset();
  currentPath_.clear();
}

}  // namespace tarnwick
