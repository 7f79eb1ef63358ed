// Imports a .reg file into the registry with the system's own regedit, as an
// administrator would.
#pragma once

#include "platform/text/Utf16Win32.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace tarnwick::testing {

// Writes `text` as a .reg file the way regedit exports one (UTF-16LE with a
// byte order mark, CR LF line ends) and imports it with `regedit /s`.
// Returns an empty text on success, else what went wrong.
inline std::string ImportWithRegedit(const std::wstring& text) {
  wchar_t dir[MAX_PATH];
  wchar_t file[MAX_PATH];
  if (GetTempPathW(MAX_PATH, dir) == 0 ||
      GetTempFileNameW(dir, L"trg", 0, file) == 0) {
    return "no temporary file";
  }
  std::wstring body = L"\xFEFF";
  for (wchar_t c : text) {
    if (c == L'\n') body += L'\r';
    body += c;
  }
  FILE* f = _wfopen(file, L"wb");
  if (f == nullptr) return "cannot write the .reg file";
  std::fwrite(body.data(), sizeof(wchar_t), body.size(), f);
  std::fclose(f);

  std::wstring cmd = L"regedit.exe /s \"" + std::wstring(file) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string error;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &si, &pi)) {
    error = "regedit did not start, error " + std::to_string(GetLastError());
  } else {
    if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) {
      TerminateProcess(pi.hProcess, 1);
      error = "regedit did not finish within 60 s";
    } else {
      DWORD code = 0;
      GetExitCodeProcess(pi.hProcess, &code);
      if (code != 0) error = "regedit exited with " + std::to_string(code);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  DeleteFileW(file);
  return error;
}

// The path of a key of the 32-bit view as a 64-bit regedit exports it.
inline std::wstring As64BitPath(const std::wstring& softwarePath) {
#ifdef _WIN64
  const std::wstring prefix = L"SOFTWARE\\";
  if (softwarePath.compare(0, prefix.size(), prefix) == 0) {
    return prefix + L"WOW6432Node\\" + softwarePath.substr(prefix.size());
  }
#endif
  return softwarePath;
}

}  // namespace tarnwick::testing
