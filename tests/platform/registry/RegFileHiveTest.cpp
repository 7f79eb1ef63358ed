#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry/RegFileHive.h"
#include "platform/registry/TRegistry.h"

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "tarnwick-hive-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path_ = tmpl;
  }
  ~TempDir() { fs::remove_all(path_); }
  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  ::stat(p.c_str(), &st);
  return st.st_mode & 07777;
}

TEST(RegFileHive, AMissingFileIsAnEmptyHiveAndAWriteCreatesIt0644) {
  TempDir dir;
  const fs::path file = dir / "sub" / "HKLM.reg";  // the folder is missing too
  RegFileHive hive(file.string());
  EXPECT_FALSE(hive.KeyExists("SOFTWARE"));
  EXPECT_EQ(hive.OpenForRead("SOFTWARE"), nullptr);
  EXPECT_EQ(hive.OpenForWrite("SOFTWARE\\A", false), nullptr);
  EXPECT_FALSE(fs::exists(file));

  const mode_t old = ::umask(077);  // the mode must not depend on the umask
  {
    TRegistry reg(hive);
    ASSERT_TRUE(reg.OpenKey("SOFTWARE\\A", true));
    reg.WriteString("V", "1");
  }
  ::umask(old);
  EXPECT_EQ(ModeOf(file), 0644u);
  EXPECT_EQ(ReadAll(file), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\n\"V\"=\"1\"\n");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

TEST(RegFileHive, AChangeKeepsTheFileModeAndEverythingElse) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  const std::string rest = "REGEDIT4\r\n\r\n; note\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n";
  WriteAll(file, rest + "\"V\"=\"old\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n\"W\"=dword:1\r\n");
  ::chmod(file.c_str(), 0640);
  RegFileHive hive(file.string());
  TRegistry reg(hive);
  ASSERT_TRUE(reg.OpenKey("SOFTWARE\\A", false));
  reg.WriteString("V", "new");
  EXPECT_EQ(ReadAll(file), rest + "\"V\"=\"new\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\B]\r\n\"W\"=dword:1\r\n");
  EXPECT_EQ(ModeOf(file), 0640u);
  EXPECT_EQ(reg.ReadString("V"), "new");  // the open key sees its own writes
}

TEST(RegFileHive, ReadStringFollowsTheValueType) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  WriteAll(file,
           "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n"
           "\"Sz\"=\"text\"\n"
           "\"Expand\"=hex(2):25,00,58,00,25,00,00,00\n"
           "\"Zero\"=hex(1):61,00,00,00,62,00,00,00\n"
           "\"EmptySz\"=\"\"\n"
           "\"NoDataDword\"=hex(4):\n"
           "\"NoDataBinary\"=hex:\n"
           "\"Dword\"=dword:00000005\n"
           "\"Binary\"=hex:33,34\n"
           "\"Multi\"=hex(7):61,00,00,00,00,00\n"
           "\"Broken\"=\"no end\n"
           "\"Deleted\"=\"x\"\n\"Deleted\"=-\n");
  RegFileHive hive(file.string());
  TRegistry reg(hive);
  ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
  struct Case {
    const char* name;
    const char* text;  // nullptr: ERegistryException
  } cases[] = {
      {"Sz", "text"},        {"Expand", "%X%"},       {"Zero", "a"},
      {"EmptySz", ""},       {"NoDataDword", ""},     {"NoDataBinary", ""},
      {"Missing", ""},       {"Deleted", ""},         {"Dword", nullptr},
      {"Binary", nullptr},   {"Multi", nullptr},      {"Broken", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.text) {
      EXPECT_EQ(reg.ReadString(c.name), c.text);
    } else {
      try {
        reg.ReadString(c.name);
        ADD_FAILURE() << "no error";
      } catch (const ERegistryException& e) {
        EXPECT_EQ(std::string(e.what()), std::string("Invalid data type for '") + c.name + "'");
      }
    }
  }
  // No key open: reads are empty, writes refused.
  reg.CloseKey();
  EXPECT_EQ(reg.ReadString("Sz"), "");
  EXPECT_THROW(reg.WriteString("Sz", "x"), ERegistryException);
}

TEST(RegFileHive, AReadOnlyKeyRefusesWritesAndAMissingOneDoesNotOpen) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  WriteAll(file, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n");
  RegFileHive hive(file.string());
  TRegistry reg(hive);
  EXPECT_FALSE(reg.OpenKeyReadOnly("Other"));
  ASSERT_TRUE(reg.OpenKeyReadOnly("K"));
  try {
    reg.WriteString("V", "x");
    ADD_FAILURE() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Failed to set data for 'V'");
  }
  EXPECT_EQ(ReadAll(file), "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n");
}

TEST(RegFileHive, SomethingThatIsNotARegularFileIsNeverReplaced) {
  TempDir dir;
  const fs::path file = dir / "HKLM.reg";
  fs::create_directory(file);
  RegFileHive hive(file.string());
  EXPECT_FALSE(hive.KeyExists("K"));
  EXPECT_FALSE(hive.CreateKey("K"));
  EXPECT_EQ(hive.OpenForWrite("K", true), nullptr);
  EXPECT_TRUE(fs::is_directory(file));
}

}  // namespace
}  // namespace tarnwick
