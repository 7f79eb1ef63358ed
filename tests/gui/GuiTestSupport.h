// Shared by the window tests: a registry file in a temporary folder, a hive
// over it that can be told to refuse writes, and small Qt helpers.
#pragma once

#include <QApplication>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest/QtTest>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry/RegFileHive.h"
#include "platform/registry/RegistryHive.h"

namespace tarnwick::test {

using RegValues = std::vector<std::pair<std::string, std::string>>;

// A registry file in a fresh temporary folder; missing until Write().
class HiveFile {
 public:
  HiveFile() : path_((dir_.path() + "/HKLM.reg").toStdString()) {}
  const std::string& Path() const { return path_; }

  // Writes the key SOFTWARE\Brindlewave\Lib holding `values` (REG_SZ).
  void Write(const RegValues& values) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\n\n"
        << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n";
    for (const auto& [name, value] : values)
      out << '"' << name << "\"=\"" << value << "\"\n";
  }
  std::string Text() const {
    std::ifstream in(path_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  QTemporaryDir dir_;
  std::string path_;
};

// The real file hive, with switches that make it refuse as a hive does for a
// user without write rights.
class RefusingHive : public RegistryHive {
 public:
  explicit RefusingHive(const std::string& path) : real_(path) {}
  bool refuseWrite = false;   // no key opens for writing
  bool refuseCreate = false;  // no key can be created

  bool KeyExists(const std::string& path) override { return real_.KeyExists(path); }
  std::unique_ptr<RegistryKey> OpenForRead(const std::string& path) override {
    return real_.OpenForRead(path);
  }
  std::unique_ptr<RegistryKey> OpenForWrite(const std::string& path, bool create) override {
    if (refuseWrite) return nullptr;
    if (refuseCreate && !real_.KeyExists(path)) return nullptr;
    return real_.OpenForWrite(path, create);
  }
  bool CreateKey(const std::string& path) override {
    return refuseCreate ? false : real_.CreateKey(path);
  }

 private:
  RegFileHive real_;
};

// Shows a window and waits (bounded) until it is the active window.
inline bool ShowActive(QWidget& w) {
  w.show();
  QApplication::setActiveWindow(&w);
  return QTest::qWaitForWindowActive(&w, 2000);
}

}  // namespace tarnwick::test
