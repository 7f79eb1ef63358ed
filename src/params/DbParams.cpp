#include "params/DbParams.h"

#include "app/unGlobal.h"
#include "platform/registry/TRegistry.h"
#include "platform/text/Codepage.h"

namespace tarnwick {
namespace {

constexpr char kOdbcName[] = "ODBCNAME";
constexpr char kUserName[] = "USERNAME";
constexpr char kPassword[] = "PASSWORD";

// Removes every leading and trailing byte of code 32 or less.
std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

// The credential codec works on the bytes of code page 936. A character that
// code page cannot hold would be stored as '?', so a login or password
// holding one is refused before anything is written rather than saved wrong.
std::string CredentialBytes(const std::string& utf8) {
  if (const auto bad = FirstNonCp936Char(utf8))
    throw EConvertError("'" + *bad + "' cannot be stored: it is not a character of code page 936");
  return Utf8ToCp936(utf8);
}

}  // namespace

bool LoadDbParams(RegistryHive& hklm, const DbParamsReceiver& receiver) {
  TRegistry reg(hklm);
  if (!reg.KeyExists(kParamsKey)) return false;
  // A key that does not open reads as empty values.
  reg.OpenKeyReadOnly(kParamsKey);
  receiver.odbcName(Trim(reg.ReadString(kOdbcName)));
  receiver.login(Cp936ToUtf8(DecodeCredential(Trim(reg.ReadString(kUserName)))));
  receiver.password(Cp936ToUtf8(DecodeCredential(Trim(reg.ReadString(kPassword)))));
  reg.CloseKey();
  return true;
}

bool SaveDbParams(RegistryHive& hklm, const std::string& odbcName, const std::string& login,
                  const std::string& password) {
  const std::string odbc = Trim(odbcName);
  const std::string user = EncodeCredential(CredentialBytes(Trim(login)));
  const std::string pass = EncodeCredential(CredentialBytes(Trim(password)));

  TRegistry reg(hklm);
  if (!reg.KeyExists(kParamsParentKey)) reg.CreateKey(kParamsParentKey);
  if (!reg.KeyExists(kParamsKey)) reg.CreateKey(kParamsKey);
  if (!reg.OpenKey(kParamsKey, true)) return false;
  reg.WriteString(kOdbcName, odbc);
  reg.WriteString(kUserName, user);
  reg.WriteString(kPassword, pass);
  reg.CloseKey();
  return true;
}

}  // namespace tarnwick
