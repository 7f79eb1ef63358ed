// UTF-8 <-> UTF-16 through the Win32 API, for the Windows build, where texts
// cross the system's interfaces in UTF-16 while the program holds them in
// UTF-8. Unlike the strict converter of the database layer these never fail:
// they suit texts that must be stored or shown whatever they hold.
#pragma once

#include <string>

namespace tarnwick::win32 {

// Ill-formed UTF-8 becomes U+FFFD; zero characters are kept.
std::wstring Utf8ToWide(const std::string& utf8);
// Unpaired surrogates become U+FFFD; zero characters are kept.
std::string WideToUtf8(const std::wstring& wide);

}  // namespace tarnwick::win32
