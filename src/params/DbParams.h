// The stored connection parameters: the ODBC data source name (plain), the
// login and the password (encoded with EncodeCredential), as three string
// values of the key SOFTWARE\Brindlewave\Lib in HKEY_LOCAL_MACHINE.
#pragma once

#include <functional>
#include <string>

namespace tarnwick {

class RegistryHive;

inline constexpr const char kParamsParentKey[] = "SOFTWARE\\Brindlewave";
inline constexpr const char kParamsKey[] = "SOFTWARE\\Brindlewave\\Lib";
inline constexpr const char kParamsSubKeyName[] = "Lib";

// Takes the loaded values in order; each is handed over as soon as it has been
// read (and decoded), before the next one is read. All texts are UTF-8.
struct DbParamsReceiver {
  std::function<void(const std::string&)> odbcName;
  std::function<void(const std::string&)> login;
  std::function<void(const std::string&)> password;
};

// False, with nothing handed over, when the key does not exist. Throws
// ERegistryException ("Invalid data type for '<name>'") or EConvertError
// (a stored login or password with a character that is not a digit); what was
// handed over before the failure stays handed over.
bool LoadDbParams(RegistryHive& hklm, const DbParamsReceiver& receiver);

// Trims the three texts, encodes the login and the password and stores them.
// False, with nothing written, when the key cannot be opened for writing.
// Throws ERegistryException when a key cannot be created ("Failed to create
// key <path>") or a value cannot be written ("Failed to set data for
// '<name>'"); values written before it stay written.
bool SaveDbParams(RegistryHive& hklm, const std::string& odbcName,
                  const std::string& login, const std::string& password);

}  // namespace tarnwick
