// The registry file on POSIX: the editor's text format, and the key and value
// calls on top of it with the buffer rules of the Windows registry calls.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "port/posix/registry_file.h"
#include "port/registry.h"
#include "port_posix_test_support.h"

namespace {

using port::posix::parse_registry_text;
using port::posix::RegistryKey;
using port::posix::RegistryValue;
using port_posix_test::TempDir;
using port_posix_test::write_file;

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const std::string& text, bool terminated) {
  Bytes out(text.begin(), text.end());
  if (terminated) out.push_back(0);
  return out;
}

const RegistryValue* value_named(const RegistryKey& key, const std::string& name) {
  for (const auto& value : key.values) {
    if (value.name == name) return &value;
  }
  return nullptr;
}

// One key's values parsed from the lines below a REGEDIT4 header.
std::vector<RegistryKey> parse_lines(const std::string& lines) {
  return parse_registry_text("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\r\n" + lines);
}

TEST(RegistryText, HeaderDecidesWhetherAnythingIsRead) {
  const std::string body = "\n[HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"1\"\n";
  EXPECT_EQ(parse_registry_text("REGEDIT4" + body).size(), 1u);
  EXPECT_EQ(parse_registry_text("Windows Registry Editor Version 5.00\r" + body).size(), 1u);
  EXPECT_TRUE(parse_registry_text("REGEDIT5" + body).empty());
  EXPECT_TRUE(parse_registry_text(body).empty());
  EXPECT_TRUE(parse_registry_text("").empty());
}

TEST(RegistryText, StringsWithEscapesAndShiftJis) {
  // 0x95 0x5C is one double-byte character: its second byte is no escape, so
  // the quote after it closes the string.
  const auto keys = parse_lines(
      "\"Path\"=\"C:\\\\Program Files\\\\x \\\"q\\\"\"\r\n"
      "\"Kanji\"=\"\x95\x5C\"\r\n"
      "\"Other\\\\Name\"=\"a\\nb\"\r\n"
      "\"Empty\"=\"\"\r\n"
      "@=\"default\"\r\n");
  ASSERT_EQ(keys.size(), 1u);
  const RegistryKey& key = keys[0];
  ASSERT_EQ(key.values.size(), 5u);
  EXPECT_EQ(key.values[0].type, port::kRegSz);
  EXPECT_EQ(key.values[0].data, bytes_of("C:\\Program Files\\x \"q\"", true));
  EXPECT_EQ(key.values[1].data, bytes_of("\x95\x5C", true));
  EXPECT_EQ(key.values[2].name, "Other\\Name");
  EXPECT_EQ(key.values[2].data, bytes_of("a\\nb", true));  // other backslashes stay
  EXPECT_EQ(key.values[3].data, Bytes{0});
  EXPECT_EQ(key.values[4].name, "");
  EXPECT_EQ(key.values[4].data, bytes_of("default", true));
}

TEST(RegistryText, DwordAndHexData) {
  const auto keys = parse_lines(
      "\"Port\"=dword:0000abcd\n"
      "\"Bin\"=hex:01,02,ff\n"
      "\"None\"=hex:\n"
      "\"Expand\"=hex(2):41,00\n"
      "\"Long\"=hex:01,02,\\\n"
      "  03,04,\\\n"
      "  05\n"
      "\"After\"=dword:1\n");
  ASSERT_EQ(keys.size(), 1u);
  const RegistryKey& key = keys[0];
  ASSERT_EQ(key.values.size(), 6u);
  EXPECT_EQ(key.values[0].type, port::kRegDword);
  EXPECT_EQ(key.values[0].data, (Bytes{0xcd, 0xab, 0, 0}));
  EXPECT_EQ(key.values[1].type, port::kRegBinary);
  EXPECT_EQ(key.values[1].data, (Bytes{1, 2, 0xff}));
  EXPECT_EQ(key.values[2].type, port::kRegBinary);
  EXPECT_TRUE(key.values[2].data.empty());
  EXPECT_EQ(key.values[3].type, 2u);
  EXPECT_EQ(key.values[3].data, (Bytes{0x41, 0}));
  EXPECT_EQ(key.values[4].data, (Bytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(key.values[5].name, "After");
  EXPECT_EQ(key.values[5].data, (Bytes{1, 0, 0, 0}));
}

TEST(RegistryText, MalformedLinesArePassedOver) {
  const auto keys = parse_registry_text(
      "REGEDIT4\n"
      "\"Orphan\"=\"before any key\"\n"
      "[HKEY_LOCAL_MACHINE\\K]\n"
      "\"Open=\"x\n"
      "\"Big\"=dword:123456789\n"
      "\"Hexy\"=dword:12g4\n"
      "\"Bad\"=hex:1,,2\n"
      "\"Bad2\"=hex:100\n"
      "\"Kind\"=bogus:1\n"
      "\"Trail\"=\"x\" junk\n"
      "junk line\n"
      "\"Good\"=\"yes\"\n"
      "[HKEY_LOCAL_MACHINE\\Broken\n"
      "\"Lost\"=\"no key open\"\n");
  ASSERT_EQ(keys.size(), 1u);
  ASSERT_EQ(keys[0].values.size(), 1u);
  EXPECT_EQ(keys[0].values[0].name, "Good");
  // Continued data that the file cuts off.
  const auto cut = parse_lines("\"Cut\"=hex:01,\\");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_TRUE(cut[0].values.empty());
}

TEST(RegistryText, LaterLinesReplaceInPlaceAndDelete) {
  const auto keys = parse_registry_text(
      "REGEDIT4\n"
      "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
      "\"First\"=\"1\"\n"
      "\"Second\"=\"2\"\n"
      "\"Third\"=\"3\"\n"
      "[hkey_local_machine\\SOFTWARE\\a]\n"
      "\"FIRST\"=dword:00000009\n"
      "\"second\"=-\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Gone]\n"
      "\"x\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Gone\\Below]\n"
      "[HKEY_LOCAL_MACHINE\\Software\\GoneNot]\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\GONE]\n"
      "\"y\"=\"ignored: the deleted section leaves no key open\"\n"
      // Keys and values found again after deletions moved the others up.
      "[HKEY_LOCAL_MACHINE\\Software\\GONENOT]\n"
      "\"z\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
      "\"third\"=\"3b\"\n");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].path, "HKEY_LOCAL_MACHINE\\Software\\A");
  ASSERT_EQ(keys[0].values.size(), 2u);
  EXPECT_EQ(keys[0].values[0].name, "First");
  EXPECT_EQ(keys[0].values[0].type, port::kRegDword);
  EXPECT_EQ(keys[0].values[1].name, "Third");
  EXPECT_EQ(keys[0].values[1].data, bytes_of("3b", true));
  EXPECT_EQ(keys[1].path, "HKEY_LOCAL_MACHINE\\Software\\GoneNot");
  ASSERT_EQ(keys[1].values.size(), 1u);
  EXPECT_EQ(keys[1].values[0].name, "z");
  EXPECT_EQ(value_named(keys[0], "Second"), nullptr);
}

TEST(RegistryText, ManyValuesOfOneKeyAreFoundByName) {
  std::string lines;
  for (int i = 0; i < 40; ++i) lines += "\"v" + std::to_string(i) + "\"=\"" + std::to_string(i) + "\"\n";
  lines += "\"V30\"=\"new\"\n\"v3\"=-\n\"V31\"=\"after\"\n\"v40\"=\"added\"\n\"V3\"=\"back\"\n";
  const auto keys = parse_lines(lines);
  ASSERT_EQ(keys.size(), 1u);
  const auto& values = keys[0].values;
  ASSERT_EQ(values.size(), 41u);
  EXPECT_EQ(values[29].name, "v30");  // v3 went, the others moved up
  EXPECT_EQ(values[29].data, bytes_of("new", true));
  EXPECT_EQ(values[30].data, bytes_of("after", true));
  EXPECT_EQ(values[39].name, "v40");
  EXPECT_EQ(values[40].name, "V3");
  EXPECT_EQ(values[40].data, bytes_of("back", true));
}

// UTF-16LE text as the registry editor writes it: the byte order mark, then
// each character in two bytes (or four).
std::string utf16(const std::u16string& text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

TEST(RegistryText, Utf16ExportsAreDecodedToShiftJis) {
  struct Case {
    const char* what;
    std::string bytes;
    bool decodable;
    std::string text;  // after decoding
  } cases[] = {
      {"no byte order mark: taken as it is", "REGEDIT4\r\n\x95\x5C", true, "REGEDIT4\r\n\x95\x5C"},
      {"kanji, CR LF and a backslash", utf16(u"A\u8868\\\r\n"), true, "A\x95\x5C\\\r\n"},
      {"the mark alone", utf16(u""), true, ""},
      {"a character without a Shift_JIS form", utf16(u"a\u00E9b"), false, ""},
      {"outside the Basic Multilingual Plane", utf16(u"a\U0001F600"), false, ""},
      {"half a character at the end", utf16(u"ab").substr(0, 5), false, ""},
  };
  for (const Case& c : cases) {
    std::string bytes = c.bytes;
    EXPECT_EQ(port::posix::decode_registry_bytes(&bytes), c.decodable) << c.what;
    if (c.decodable) {
      EXPECT_EQ(bytes, c.text) << c.what;
    }
  }
}

TEST(RegistryText, NamesCompareByCharacter) {
  using port::posix::registry_names_equal;
  EXPECT_TRUE(registry_names_equal("Moxa3R\\0201/A", "MOXA3r\\0201/a"));
  EXPECT_FALSE(registry_names_equal("ab", "abc"));
  // 0x83 0x61 and 0x83 0x41 are different katakana; the trail byte is not a letter.
  EXPECT_FALSE(registry_names_equal("\x83\x61", "\x83\x41"));
}

// ---------------------------------------------------------------------------
// The registry calls on a file named by LORVEX_REGISTRY

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override { setenv("LORVEX_REGISTRY", dir_.file("registry.reg").c_str(), 1); }
  void TearDown() override { unsetenv("LORVEX_REGISTRY"); }
  void write(const std::string& body) {
    write_file(dir_.file("registry.reg"), "REGEDIT4\r\n\r\n" + body);
  }
  TempDir dir_;
};

constexpr char kKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A";

TEST_F(RegistryFile, EnumeratesValuesInFileOrder) {
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\r\n"
        "\"InstallPath\"=\"C:\\\\Lorvex\"\r\n"
        "\"CgiPortNo\"=dword:00001f90\r\n"
        "\"Blob\"=hex:\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\r\n"
        "\"x\"=\"1\"\r\n");
  port::RegKey key;
  ASSERT_EQ(key.open_local_machine("software\\velmora\\MOXA3R\\0201/a"), port::kRegSuccess);
  std::vector<std::string> names;
  char name[64];
  unsigned char data[64];
  for (unsigned long i = 0;; ++i) {
    unsigned long name_size = sizeof name, data_size = sizeof data, type = 0;
    const long rc = key.enum_value(i, name, &name_size, &type, data, &data_size);
    if (rc == port::kRegNoMoreItems) break;
    ASSERT_EQ(rc, port::kRegSuccess);
    EXPECT_EQ(name_size, std::string(name).size());
    names.push_back(name);
    if (names.back() == "InstallPath") {
      EXPECT_EQ(type, port::kRegSz);
      EXPECT_EQ(data_size, 10u);
      EXPECT_STREQ(reinterpret_cast<char*>(data), "C:\\Lorvex");
    }
    if (names.back() == "Blob") {
      EXPECT_EQ(data_size, 0u);
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"InstallPath", "CgiPortNo", "Blob"}));

  unsigned long type = 0, port_no = 0, size = sizeof port_no;
  ASSERT_EQ(key.query_value("cgiportno", &type, reinterpret_cast<unsigned char*>(&port_no), &size), 0);
  EXPECT_EQ(type, port::kRegDword);
  EXPECT_EQ(port_no, 8080u);
  EXPECT_EQ(key.query_value("Missing", &type, data, &size), port::kRegFileNotFound);
}

TEST_F(RegistryFile, BuffersTooSmallGiveMoreData) {
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n\"Five5\"=\"0123456789\"\n");
  port::RegKey key;
  ASSERT_EQ(key.open_local_machine(kKey), port::kRegSuccess);
  char name[16];
  unsigned char data[16];
  unsigned long name_size = 5, data_size = sizeof data, type = 0;
  // Five characters need room for six with the terminator.
  EXPECT_EQ(key.enum_value(0, name, &name_size, &type, data, &data_size), port::kRegMoreData);
  name_size = 6;
  data_size = 10;
  EXPECT_EQ(key.enum_value(0, name, &name_size, &type, data, &data_size), port::kRegMoreData);
  EXPECT_EQ(data_size, 11u);
  name_size = 6;
  data_size = 11;
  ASSERT_EQ(key.enum_value(0, name, &name_size, &type, data, &data_size), port::kRegSuccess);
  EXPECT_EQ(name_size, 5u);
  EXPECT_STREQ(name, "Five5");

  unsigned long size = 3;
  EXPECT_EQ(key.query_value("five5", &type, data, &size), port::kRegMoreData);
  EXPECT_EQ(size, 11u);
  size = 0;
  EXPECT_EQ(key.query_value("five5", &type, nullptr, &size), port::kRegSuccess);
  EXPECT_EQ(size, 11u);
  name_size = sizeof name;
  EXPECT_EQ(key.enum_value(1, name, &name_size, &type, data, &data_size), port::kRegNoMoreItems);
}

TEST_F(RegistryFile, MissingKeysAndFiles) {
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n\"a\"=\"1\"\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Elsewhere]\n");
  port::RegKey key;
  EXPECT_EQ(key.open_local_machine("SOFTWARE\\VELMORA\\Moxa3R\\0201/B"), port::kRegFileNotFound);
  EXPECT_EQ(key.open_local_machine("SOFTWARE\\VELMORA\\Moxa3"), port::kRegFileNotFound);
  EXPECT_EQ(key.open_local_machine("SOFTWARE\\Elsewhere"), port::kRegFileNotFound);
  // A parent of a written key exists, without values of its own.
  ASSERT_EQ(key.open_local_machine("SOFTWARE\\VELMORA"), port::kRegSuccess);
  char name[8];
  unsigned long name_size = sizeof name;
  EXPECT_EQ(key.enum_value(0, name, &name_size, nullptr, nullptr, nullptr), port::kRegNoMoreItems);

  unsetenv("LORVEX_REGISTRY");
  setenv("LORVEX_REGISTRY", dir_.file("none.reg").c_str(), 1);
  EXPECT_EQ(key.open_local_machine(kKey), port::kRegFileNotFound);
}

TEST_F(RegistryFile, KeyNameEndingInADoubleByteCharacterWithByte5C) {
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\\x95\x5C\\]\n\"v\"=\"1\"\n");
  port::RegKey key;
  ASSERT_EQ(key.open_local_machine("SOFTWARE\\\x95\x5C"), port::kRegSuccess);
  unsigned long size = 0;
  EXPECT_EQ(key.query_value("v", nullptr, nullptr, &size), port::kRegSuccess);
  EXPECT_EQ(key.open_local_machine("software\\\x95\x5C\\"), port::kRegSuccess);
  EXPECT_EQ(key.query_value("v", nullptr, nullptr, &size), port::kRegSuccess);
  EXPECT_EQ(key.open_local_machine("SOFTWARE\\\x95"), port::kRegFileNotFound);
}

// The file is parsed once and kept while it stays as it was: a rewrite that
// keeps its size and time stamps is not seen (the way to tell that nothing
// was read again), any real change is.
TEST_F(RegistryFile, AnUnchangedFileIsNotReadAgain) {
  const std::string path = dir_.file("registry.reg");
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n\"v\"=\"one\"\n");
  port::RegKey key;
  ASSERT_EQ(key.open_local_machine(kKey), port::kRegSuccess);
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n\"v\"=\"two\"\n");
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  unsigned char data[16];
  unsigned long size = sizeof data;
  ASSERT_EQ(key.open_local_machine(kKey), port::kRegSuccess);
  ASSERT_EQ(key.query_value("v", nullptr, data, &size), port::kRegSuccess);
  EXPECT_STREQ(reinterpret_cast<char*>(data), "one");
  const timespec later[2] = {before.st_atim, {before.st_mtim.tv_sec + 1, before.st_mtim.tv_nsec}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
  ASSERT_EQ(key.open_local_machine(kKey), port::kRegSuccess);
  size = sizeof data;
  ASSERT_EQ(key.query_value("v", nullptr, data, &size), port::kRegSuccess);
  EXPECT_STREQ(reinterpret_cast<char*>(data), "two");
}

TEST_F(RegistryFile, EveryOpenSeesAChangedFile) {
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n\"v\"=\"old\"\n");
  port::RegKey first;
  ASSERT_EQ(first.open_local_machine(kKey), port::kRegSuccess);
  write("[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELMORA\\Moxa3R\\0201/A]\n\"v\"=\"newer\"\n");
  port::RegKey second;
  ASSERT_EQ(second.open_local_machine(kKey), port::kRegSuccess);
  unsigned char data[16];
  unsigned long size = sizeof data;
  ASSERT_EQ(second.query_value("v", nullptr, data, &size), port::kRegSuccess);
  EXPECT_EQ(size, 6u);
  size = sizeof data;
  ASSERT_EQ(first.query_value("v", nullptr, data, &size), port::kRegSuccess);
  EXPECT_EQ(size, 4u);  // an open key keeps what it read
  second.close();
  EXPECT_NE(second.query_value("v", nullptr, data, &size), port::kRegSuccess);
}

}  // namespace
