#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "platform/registry/RegText.h"
#include "platform/registry/RegistryHive.h"

namespace tarnwick::regtext {
namespace {

using namespace std::string_literals;

constexpr char kKey[] = "SOFTWARE\\Brindlewave\\Lib";

// UTF-8 -> UTF-16LE with byte-order mark, the way the registry editor exports.
std::string Utf16Le(const std::string& ascii_or_utf8) {
  std::u32string cps;
  for (std::size_t i = 0; i < ascii_or_utf8.size();) {
    const auto b = static_cast<unsigned char>(ascii_or_utf8[i]);
    int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (ascii_or_utf8[i + k] & 0x3F);
    cps += cp;
    i += n;
  }
  std::string out = "\xFF\xFE";
  for (char32_t cp : cps) {
    auto unit = [&](char32_t u) { out += static_cast<char>(u & 0xFF); out += static_cast<char>(u >> 8); };
    if (cp >= 0x10000) { unit(0xD800 + ((cp - 0x10000) >> 10)); unit(0xDC00 + ((cp - 0x10000) & 0x3FF)); }
    else unit(cp);
  }
  return out;
}

const ValueEntry& Value(const RegDocument& doc, const std::string& name, const std::string& key = kKey) {
  const ValueEntry* v = doc.FindValue(key, name);
  if (!v) throw std::runtime_error("no value " + name);
  return *v;
}

TEST(RegText, ReadsEveryValueFormOfAnExport) {
  const std::string file =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "; a comment\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
      "@=\"default\"\n"
      "\"Plain\"=\"LibODBC\"\n"
      "\"Escaped\"=\"C:\\\\lib \\\"x\\\"\"\n"
      "\"Empty\"=\"\"\n"
      "\"Chinese\"=\"图书馆\"\n"
      "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\n"
      "\"Wrapped\"=hex(2):61,00,62,00,\\\n"
      "  63,00,00,00\n"
      "\"HexSz\"=hex(1):61,00,00,00,62,00,00,00\n"
      "\"NoData\"=hex(2):\n"
      "\"Dword\"=dword:0000001f\n"
      "\"Binary\"=hex:01,02,ff\n"
      "\"Multi\"=hex(7):61,00,00,00,00,00\n"
      "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
      "\"Name \\\"quoted\\\"\"=\"q\"\n"
      "  \"Indented\" = \"ok\"  \n";
  const RegDocument doc = RegDocument::Parse(file);
  struct Case {
    const char* name;
    std::uint32_t type;
    std::size_t size;
    std::string text;
  } cases[] = {
      {"", regtype::kSz, 16, "default"},
      {"Plain", regtype::kSz, 16, "LibODBC"},
      {"Escaped", regtype::kSz, 22, "C:\\lib \"x\""},
      {"Empty", regtype::kSz, 2, ""},
      {"Chinese", regtype::kSz, 8, "图书馆"},
      {"Expand", regtype::kExpandSz, 14, "%PATH%"},
      {"Wrapped", regtype::kExpandSz, 8, "abc"},
      {"HexSz", regtype::kSz, 8, "a"},  // up to the first zero character
      {"NoData", regtype::kExpandSz, 0, ""},
      {"Dword", regtype::kDword, 4, ""},
      {"Binary", regtype::kBinary, 3, ""},
      {"Multi", regtype::kMultiSz, 6, ""},
      {"Qword", regtype::kQword, 8, ""},
      {"Name \"quoted\"", regtype::kSz, 4, "q"},
      {"Indented", regtype::kSz, 6, "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ValueEntry& v = Value(doc, c.name);
    EXPECT_TRUE(v.data.parsed);
    EXPECT_EQ(v.data.type, c.type);
    EXPECT_EQ(v.data.dataSize, c.size);
    EXPECT_EQ(v.data.text, c.text);
  }
  EXPECT_EQ(doc.Serialize(), file);
}

TEST(RegText, ValueDataItCannotParseIsMarkedNotGuessed) {
  const char* lines[] = {
      "\"V\"=\"unterminated\n",
      "\"V\"=\"bad \\n escape\"\n",
      "\"V\"=\"text\" trailing\n",
      "\"V\"=dword:123456789\n",
      "\"V\"=dword:\n",
      "\"V\"=hex:1,zz\n",
      "\"V\"=hex(2):41,00,00,d8\n",  // an unpaired surrogate
      "\"V\"=hex(\n",
      "\"V\"=text\n",
      "\"V\"=\"\xFF\xFE\"\n",         // not UTF-8
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    const RegDocument doc = RegDocument::Parse(std::string("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\") + kKey + "]\n" + line);
    ASSERT_NE(doc.FindValue(kKey, "V"), nullptr);
    EXPECT_FALSE(doc.FindValue(kKey, "v")->data.parsed);
  }
}

TEST(RegText, KeyExistsForItsSectionOrOneBelowIt) {
  const RegDocument doc = RegDocument::Parse(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib\\Sub]\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\n"
      "[hkey_local_machine\\software\\MixedCase]\n");
  struct Case {
    const char* path;
    bool exists;
  } cases[] = {
      {"SOFTWARE", true},
      {"SOFTWARE\\Brindlewave", true},
      {"SOFTWARE\\Brindlewave\\Lib", true},
      {"software\\brindlewave\\LIB", true},
      {"SOFTWARE\\Brindlewave\\Lib\\Sub", true},
      {"SOFTWARE\\Brindlewave\\Li", false},
      {"SOFTWARE\\Brindlewave\\Lib\\Sub\\Deeper", false},
      {"SOFTWARE\\Other", false},   // another hive
      {"SOFTWARE\\Gone", false},    // a deletion names no key
      {"SOFTWARE\\MIXEDCASE", true},
  };
  for (const auto& c : cases) EXPECT_EQ(doc.KeyExists(c.path), c.exists) << c.path;
}

TEST(RegText, AnExportFromThe32BitViewOf64BitWindowsIsTheSameKey) {
  RegDocument doc = RegDocument::Parse(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Brindlewave\\Lib]\r\n"
      "\"ODBCNAME\"=\"LibODBC\"\r\n");
  EXPECT_TRUE(doc.KeyExists("SOFTWARE\\Brindlewave"));
  EXPECT_TRUE(doc.KeyExists(kKey));
  EXPECT_FALSE(doc.KeyExists("SOFTWARE\\WOW6432NodeX"));
  EXPECT_EQ(Value(doc, "ODBCNAME").data.text, "LibODBC");
  // A save writes into that section rather than adding another one.
  ASSERT_TRUE(doc.SetSz(kKey, "ODBCNAME", "Other"));
  ASSERT_TRUE(doc.SetSz(kKey, "USERNAME", "0343"));
  EXPECT_EQ(doc.sections().size(), 1u);
  EXPECT_EQ(RegDocument::Parse(doc.Serialize()).FindValue(kKey, "USERNAME")->data.text, "0343");
  EXPECT_EQ(Value(doc, "ODBCNAME").data.text, "Other");
}

TEST(RegText, LastDefinitionWinsAndDeletionRemoves) {
  const RegDocument doc = RegDocument::Parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"1\"\n\"B\"=\"1\"\n\"C\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\Other]\n\"A\"=\"other\"\n"
      "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"2\"\n\"B\"=-\n");
  EXPECT_EQ(Value(doc, "A", "K").data.text, "2");
  EXPECT_EQ(doc.FindValue("K", "B"), nullptr);
  EXPECT_EQ(Value(doc, "C", "k").data.text, "1");
  EXPECT_EQ(Value(doc, "A", "Other").data.text, "other");
}

TEST(RegText, ValuesUnderUnreadableSectionHeadersBelongToNoKey) {
  const RegDocument doc = RegDocument::Parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"1\"\n[HKEY_LOCAL_MACHINE\\K\xFF]\n\"A\"=\"2\"\n"
      "[broken\n\"A\"=\"3\"\n");
  EXPECT_EQ(Value(doc, "A", "K").data.text, "1");
}

TEST(RegText, ReadsARegeditUtf16ExportWithCrLf) {
  const std::string file = Utf16Le(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\r\n"
      "\"ODBCNAME\"=\"图书ODBC\"\r\n"
      "\"Path\"=hex(2):25,00,57,00,49,00,4e,00,44,00,49,00,52,00,25,00,5c,00,61,00,\\\r\n"
      "  00,00\r\n"
      "\"Emoji\"=\"😀\"\r\n\r\n");
  const RegDocument doc = RegDocument::Parse(file);
  EXPECT_EQ(doc.encoding(), Encoding::kUtf16LeBom);
  EXPECT_TRUE(doc.KeyExists(kKey));
  EXPECT_EQ(Value(doc, "ODBCNAME").data.text, "图书ODBC");
  EXPECT_EQ(Value(doc, "Path").data.text, "%WINDIR%\\a");
  EXPECT_EQ(Value(doc, "Emoji").data.text, "😀");
  EXPECT_EQ(doc.Serialize(), file);
}

TEST(RegText, Regedit4HexStringsAreInTheAnsiCodePage) {
  const RegDocument doc = RegDocument::Parse(
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"E\"=hex(2):d6,d0,00\r\n");
  EXPECT_EQ(Value(doc, "E", "K").data.text, "中");
}

// What changes touch, and what they leave alone.
TEST(RegText, SettingAValueKeepsEveryOtherLineByteForByte) {
  const std::string head =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; keep me \xFF\xFE (not UTF-8)\r\n"
      "[HKEY_CURRENT_USER\\X]\r\n"
      "\"ODBCNAME\"=\"not ours\"\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\r\n"
      "@=\"dflt\"\r\n";
  const std::string oldValue = "\"ODBCNAME\"=hex(2):41,00,\\\r\n   42,00,00,00\r\n";
  const std::string tail =
      "garbage line = ?\r\n"
      "\"Other\"=dword:00000001\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Else]\r\n"
      "\"X\"=\"y\"";  // no line end at the end of the file
  RegDocument doc = RegDocument::Parse(head + oldValue + tail);

  ASSERT_TRUE(doc.SetSz(kKey, "odbcname", "New \"DSN\" \\ 图"));
  EXPECT_EQ(doc.Serialize(), head + "\"odbcname\"=\"New \\\"DSN\\\" \\\\ 图\"\r\n" + tail);
  EXPECT_EQ(Value(doc, "ODBCNAME").data.text, "New \"DSN\" \\ 图");

  // A new value goes after the key's last value; the file's line ends are kept.
  ASSERT_TRUE(doc.SetSz(kKey, "USERNAME", "7030"));
  EXPECT_EQ(doc.Serialize(), head + "\"odbcname\"=\"New \\\"DSN\\\" \\\\ 图\"\r\n" +
                                 "garbage line = ?\r\n\"Other\"=dword:00000001\r\n\"USERNAME\"=\"7030\"\r\n" +
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Else]\r\n\"X\"=\"y\"");

  // A key without a section gets one at the end, after the last line is ended.
  const std::string before = doc.Serialize();
  ASSERT_TRUE(doc.SetSz("SOFTWARE\\New", "V", ""));
  const std::string all = doc.Serialize();
  EXPECT_EQ(all, before + "\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\New]\r\n\"V\"=\"\"\r\n");
  EXPECT_TRUE(RegDocument::Parse(all).KeyExists("SOFTWARE\\New"));
  EXPECT_EQ(Value(RegDocument::Parse(all), "V", "SOFTWARE\\New").data.dataSize, 2u);
}

TEST(RegText, AFileThatWasUtf16StaysUtf16) {
  const std::string before = Utf16Le(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\r\n"
      "\"ODBCNAME\"=\"old\"\r\n"
      "\"Keep\"=\"图\"\r\n");
  RegDocument doc = RegDocument::Parse(before);
  ASSERT_TRUE(doc.SetSz(kKey, "ODBCNAME", "新"));
  ASSERT_TRUE(doc.SetSz(kKey, "PASSWORD", "0000"));
  const std::string after = Utf16Le(
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\r\n"
      "\"ODBCNAME\"=\"新\"\r\n"
      "\"Keep\"=\"图\"\r\n"
      "\"PASSWORD\"=\"0000\"\r\n");
  EXPECT_EQ(doc.Serialize(), after);
}

TEST(RegText, ANewFileIsUtf8WithLfAndAHeader) {
  RegDocument doc;
  doc.AddKey("SOFTWARE\\Brindlewave");
  ASSERT_TRUE(doc.SetSz(kKey, "ODBCNAME", "LibODBC"));
  doc.AddKey("SOFTWARE\\Brindlewave");  // exists now (a key below it does)
  EXPECT_EQ(doc.Serialize(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brindlewave\\Lib]\n"
            "\"ODBCNAME\"=\"LibODBC\"\n");
}

TEST(RegText, TextsThatCannotStandInAQuotedStringAreWrittenSoTheyReadBack) {
  const std::string texts[] = {"two\nlines", "cr\r", "tab\there", "cut\0here"s};
  for (const std::string& t : texts) {
    for (const char* header : {"Windows Registry Editor Version 5.00\n", "REGEDIT4\n"}) {
      RegDocument doc = RegDocument::Parse(header);
      ASSERT_TRUE(doc.SetSz(kKey, "V", t));
      const RegDocument again = RegDocument::Parse(doc.Serialize());
      EXPECT_EQ(again.lines().size(), 4u) << doc.Serialize();
      EXPECT_EQ(Value(again, "V").data.type, regtype::kSz);
      EXPECT_EQ(Value(again, "V").data.text, t.substr(0, t.find('\0'))) << doc.Serialize();
    }
  }
  RegDocument doc;
  EXPECT_FALSE(doc.SetSz(kKey, "V", "bad \xC3("));
  EXPECT_EQ(doc.Serialize(), "");
}

// Whatever the bytes, parsing neither crashes nor loses them, and a change
// leaves the rest alone.
TEST(RegText, ArbitraryBytesSurviveAndStayWritable) {
  std::mt19937 rng(12345);
  const std::string pieces[] = {"[HKEY_LOCAL_MACHINE\\K]", "\"V\"=", "hex(2):", "41,00,", "\\", "\"",
                                "\r\n", "\n", "\xFF\xFE", "\0"s, "\xD6", "@=", ";", "dword:", "-", "\xEF\xBB\xBF"};
  for (int round = 0; round < 3000; ++round) {
    std::string bytes;
    const int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) {
      if (rng() % 3 == 0) bytes += static_cast<char>(rng() % 256);
      else bytes += pieces[rng() % std::size(pieces)];
    }
    RegDocument doc = RegDocument::Parse(bytes);
    ASSERT_EQ(doc.Serialize(), bytes);
    doc.SetSz("K", "V", "x");
    const RegDocument again = RegDocument::Parse(doc.Serialize());
    const ValueEntry* v = again.FindValue("K", "V");
    ASSERT_NE(v, nullptr) << testing::PrintToString(bytes);
    EXPECT_EQ(v->data.text, "x") << testing::PrintToString(bytes);
  }
}

TEST(RegText, HugeLinesAreHandledInLinearTime) {
  const std::string big(4 * 1024 * 1024, 'a');
  std::string wrapped;
  for (int k = 0; k < 100000; ++k) wrapped += "  41,00,\\\n";
  const std::string file = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n\"Long\"=\"" + big + "\"\n\"Open\"=\"" + big +
                           "\n\"Wrap\"=hex(2):" + wrapped + "00,00\n\"After\"=\"z\"\n";
  const RegDocument doc = RegDocument::Parse(file);
  EXPECT_EQ(Value(doc, "Long", "K").data.text.size(), big.size());
  EXPECT_FALSE(Value(doc, "Open", "K").data.parsed);
  EXPECT_EQ(Value(doc, "Wrap", "K").data.text.size(), 100000u);
  EXPECT_EQ(Value(doc, "After", "K").data.text, "z");
}

}  // namespace
}  // namespace tarnwick::regtext
