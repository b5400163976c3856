#include "engine/runtime/path.h"
#include "engine/runtime/path_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/peer.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wide_text.h"

namespace {

namespace fs = std::filesystem;

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += d[c >> 4];
    h += d[c & 15];
  }
  return h;
}

std::string HexUnits(const std::u16string& s) {
  std::string bytes;
  for (char16_t u : s) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return Hex(bytes);
}

// ---------------------------------------------------------------------------
// UTF-16 and UTF-8

TEST(PathUtf, DecodingAgreesWithPythonSurrogateEscape) {
  KELPO_REQUIRE_PEER("python3");
  std::vector<std::string> inputs = {
      "plain",        "caf\xc3\xa9",
      "\xe2\x82\xac", "\xf0\x9f\x93\x96 book",
      "\xff\xfe",     "\xc0\x80",
      "\xed\xa0\x80", "\xf4\x90\x80\x80",
      "\xe2\x82",     "\xe2\x82\xe2\x82\xac",
      "\x80tail",     "\xf0\x9f\x93",
  };
  // Random strings drawn mostly from bytes that start or continue sequences.
  std::mt19937 rng(1234);
  const unsigned char pool[] = {'a',  '/',  0x80, 0x9F, 0xA0, 0xBF, 0xC2, 0xC3, 0xDF, 0xE0,
                                0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x82, 0xAC, 0x90};
  for (int i = 0; i < 200; ++i) {
    std::string s;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k)
      s += static_cast<char>(pool[rng() % sizeof pool]);
    inputs.push_back(s);
  }
  std::string input;
  for (const std::string& s : inputs)
    input += Hex(s) + "\n";
  TempDir dir;
  WriteFileBytes(dir.File("peer.py"),
                 "import sys\n"
                 "for line in sys.stdin:\n"
                 "    b = bytes.fromhex(line.strip())\n"
                 "    print(b.decode('utf-8', 'surrogateescape')"
                 ".encode('utf-16-le', 'surrogatepass').hex())\n");
  int status = -1;
  const std::string out = RunPeer("python3 '" + dir.File("peer.py") + "'", input, &status);
  ASSERT_EQ(status, 0);
  std::istringstream lines(out);
  for (const std::string& s : inputs) {
    std::string expected;
    ASSERT_TRUE(std::getline(lines, expected));
    const std::u16string wide = U16(s);
    EXPECT_EQ(HexUnits(wide), expected) << Hex(s);
    EXPECT_EQ(U8(wide), s) << Hex(s);  // every byte string comes back
  }
}

TEST(PathUtf, EncodingRulesAndBuffers) {
  EXPECT_EQ(U8(u"a\u00e9\u20ac\U0001F4D6"), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x93\x96");
  EXPECT_EQ(U8(u"\xdc80\xdcff"), "\x80\xff");
  std::array<char, 16> out{};
  std::uint32_t n = 0;
  for (const std::u16string bad : {u"\xd800", u"\xd800x", u"\xdc00", u"\xdd00", u"x\xdbff"}) {
    EXPECT_EQ(Path_Utf16ToUtf8(bad.data(), static_cast<std::uint32_t>(bad.size()), out.data(),
                               out.size(), &n),
              kMalformed);
  }
  const std::u16string text = u"\u00e9\u00e9";  // 4 bytes
  ASSERT_EQ(Path_Utf16ToUtf8(text.data(), 2, nullptr, 0, &n), kOk);
  EXPECT_EQ(n, 4u);
  out.fill('#');
  EXPECT_EQ(Path_Utf16ToUtf8(text.data(), 2, out.data(), 4, &n), kIndexOutOfRange);
  EXPECT_EQ(out[0], '#');
  ASSERT_EQ(Path_Utf16ToUtf8(text.data(), 2, out.data(), 5, &n), kOk);
  EXPECT_EQ(out[4], '\0');

  std::array<char16_t, 4> wide{};
  const std::string four = "\xf0\x9f\x93\x96";  // two units
  EXPECT_EQ(Path_Utf8ToUtf16(four.data(), 4, wide.data(), 2, &n), kIndexOutOfRange);
  ASSERT_EQ(Path_Utf8ToUtf16(four.data(), 4, wide.data(), 3, &n), kOk);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(wide[2], u'\0');
}

TEST(PathToNative, MapsBackslashesAndBoundsTheResult) {
  NativePath native;
  const std::u16string p = u"C:\\dir\\sub/f\u00e9";
  ASSERT_TRUE(Path_ToNative(p.data(), static_cast<std::uint32_t>(p.size()), &native));
  EXPECT_STREQ(native.c_str(), "C:/dir/sub/f\xc3\xa9");
  EXPECT_EQ(native.length, 14u);
  const std::u16string huge(400, u'\u20ac');  // 1200 bytes
  EXPECT_FALSE(Path_ToNative(huge.data(), static_cast<std::uint32_t>(huge.size()), &native));
  const std::u16string lone = u"a\xd800";
  EXPECT_FALSE(Path_ToNative(lone.data(), 2, &native));
}

// ---------------------------------------------------------------------------
// The four helpers

TEST(PathHelpers, ModuleDirectoryIsTheProgramsFolder) {
  std::array<char16_t, kPathBufferSize> buf{};
  std::uint32_t length = 0;
  ASSERT_TRUE(Path_GetModuleDirectory(buf.data(), &length));
  EXPECT_EQ(U8(std::u16string(buf.data(), length)),
            fs::canonical("/proc/self/exe").parent_path().string());
  EXPECT_EQ(buf[length], u'\0');
}

TEST(PathHelpers, ComposeNeedsRoomForEverything) {
  std::array<char16_t, 32> buf{};
  buf.fill(u'#');
  std::uint32_t needed = 0;
  // "data" + "\Kelpo" + "\cat" + NUL = 4 + 6 + 4 + 1
  EXPECT_FALSE(Path_Compose(buf.data(), 14, u"data", u"Kelpo", nullptr, u"cat", nullptr, &needed));
  EXPECT_EQ(needed, 15u);
  EXPECT_EQ(buf[0], u'#');
  ASSERT_TRUE(Path_Compose(buf.data(), 15, u"data", u"Kelpo", nullptr, u"cat", nullptr, &needed));
  EXPECT_EQ(std::u16string(buf.data()), u"data\\Kelpo\\cat");
}

TEST(PathHelpers, CreateDirectoryTreeThreeDeep) {
  TempDir dir;
  const std::string base = dir.Path();
  ASSERT_TRUE(fs::create_directory(base + "/one"));
  const std::u16string three = U16(base) + u"\\one\\two\\three";
  ASSERT_TRUE(Path_CreateDirectoryTree(three.c_str(), -1));
  EXPECT_TRUE(fs::is_directory(base + "/one/two/three"));
  // A length shorter than the string makes only that prefix.
  const std::u16string partial = U16(base) + u"/p1/p2/p3";
  ASSERT_TRUE(
      Path_CreateDirectoryTree(partial.c_str(), static_cast<std::int32_t>(partial.size() - 3)));
  EXPECT_TRUE(fs::is_directory(base + "/p1/p2"));
  EXPECT_FALSE(fs::exists(base + "/p1/p2/p3"));
  // The second level exists as a file.
  WriteFileBytes(base + "/f2", "x");
  const std::u16string blocked = U16(base) + u"/f2/three";
  EXPECT_FALSE(Path_CreateDirectoryTree(blocked.c_str(), -1));
  EXPECT_TRUE(Path_CreateDirectoryTree(u"ignored", 0));
  const std::u16string tooLong(kPathMax + 1, u'a');
  EXPECT_FALSE(Path_CreateDirectoryTree(tooLong.c_str(), -1));
  EXPECT_FALSE(Path_CreateDirectoryTree(tooLong.c_str(), static_cast<std::int32_t>(kPathMax + 1)));
}

class SpecialFolderTest : public testing::Test {
 protected:
  TempDir home_;
  ScopedEnv homeEnv_{"HOME", home_.Path()};
  ScopedEnv dataEnv_{"XDG_DATA_HOME", std::nullopt};
  ScopedEnv configEnv_{"XDG_CONFIG_HOME", std::nullopt};
  ScopedEnv cacheEnv_{"XDG_CACHE_HOME", std::nullopt};
  ScopedEnv kelpoData_{"KELPO_DATA_HOME", std::nullopt};
  ScopedEnv kelpoDocs_{"KELPO_DOCUMENTS_DIR", std::nullopt};

  std::string Folder(std::uint32_t csidl, bool create = false) {
    std::array<char16_t, kPathBufferSize> buf{};
    buf.fill(u'#');
    const std::uint32_t n = Path_GetSpecialFolder(buf.data(), csidl, create);
    if (n == 0) {
      EXPECT_EQ(buf[0], u'\0');
      return "";
    }
    EXPECT_EQ(buf[n], u'\0');
    return U8(std::u16string(buf.data(), n));
  }
  void UserDirs(const std::string& text) {
    fs::create_directories(home_.Path() + "/.config");
    WriteFileBytes(home_.Path() + "/.config/user-dirs.dirs", text);
  }
};

TEST_F(SpecialFolderTest, ApplicationDataFollowsTheOverridesInOrder) {
  EXPECT_EQ(Folder(kCsidlAppData), home_.Path() + "/.local/share");
  ScopedEnv relative("XDG_DATA_HOME", "relative/ignored");
  EXPECT_EQ(Folder(kCsidlAppData), home_.Path() + "/.local/share");
  ScopedEnv xdg("XDG_DATA_HOME", home_.Path() + "/xdg/");
  EXPECT_EQ(Folder(kCsidlAppData), home_.Path() + "/xdg");  // no trailing separator
  ScopedEnv kelpo("KELPO_DATA_HOME", home_.Path() + "/kelpo-data");
  EXPECT_FALSE(fs::exists(home_.Path() + "/kelpo-data"));
  EXPECT_EQ(Folder(kCsidlAppData, true), home_.Path() + "/kelpo-data");
  EXPECT_TRUE(fs::is_directory(home_.Path() + "/kelpo-data"));
}

TEST_F(SpecialFolderTest, DocumentsFromTheUserDirsFile) {
  EXPECT_EQ(Folder(kCsidlPersonal), home_.Path() + "/Documents");
  UserDirs(
      "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n  XDG_DOCUMENTS_DIR = \"$HOME/My\\ Docs\"\n");
  EXPECT_EQ(Folder(kCsidlPersonal), home_.Path() + "/My Docs");
  EXPECT_EQ(Folder(kCsidlDesktopDirectory), home_.Path() + "/Desk");
  EXPECT_EQ(Folder(kCsidlTemplates), home_.Path() + "/Templates");
  UserDirs("XDG_DOCUMENTS_DIR=\"/abs/docs\"\nXDG_DOCUMENTS_DIR=relative\n");
  EXPECT_EQ(Folder(kCsidlPersonal), "/abs/docs");
  ScopedEnv kelpo("KELPO_DOCUMENTS_DIR", home_.Path() + "/override");
  EXPECT_EQ(Folder(kCsidlPersonal), home_.Path() + "/override");
}

TEST_F(SpecialFolderTest, DocumentsAgreeWithXdgUserDir) {
  KELPO_REQUIRE_PEER("xdg-user-dir");
  // The tool answers $HOME where nothing is set, so only set entries compare.
  for (const std::string& line :
       {std::string("XDG_DOCUMENTS_DIR=\"$HOME/Docs\""),
        std::string("XDG_DOCUMENTS_DIR=\"$HOME/With Space\""),
        std::string("XDG_DOCUMENTS_DIR=\"/srv/shared/docs\""),
        std::string("XDG_DOCUMENTS_DIR=\"$HOME\""),
        std::string("XDG_DOCUMENTS_DIR=\"$HOME/a\"\nXDG_DOCUMENTS_DIR=\"$HOME/b\"")}) {
    UserDirs(line + "\n");
    int status = -1;
    std::string peer = RunPeer("xdg-user-dir DOCUMENTS", "", &status);
    ASSERT_EQ(status, 0);
    while (!peer.empty() && peer.back() == '\n')
      peer.pop_back();
    EXPECT_EQ(Folder(kCsidlPersonal), peer) << line;
  }
}

TEST_F(SpecialFolderTest, EveryShellFolderHasItsLinuxPlaceOrFails) {
  const std::string h = home_.Path();
  struct {
    std::uint32_t csidl;
    std::string expected;  // empty: no such folder on Linux
  } cases[] = {
      {kCsidlPrograms, h + "/.local/share/applications"},
      {kCsidlStartMenu, h + "/.local/share/applications"},
      {kCsidlFonts, h + "/.local/share/fonts"},
      {kCsidlStartup, h + "/.config/autostart"},
      {kCsidlCommonPrograms, "/usr/share/applications"},
      {kCsidlCommonStartMenu, "/usr/share/applications"},
      {kCsidlCommonStartup, "/etc/xdg/autostart"},
      {kCsidlPersonal, h + "/Documents"},
      {kCsidlDesktopDirectory, h + "/Desktop"},
      {kCsidlTemplates, h + "/Templates"},
      {kCsidlAppData, h + "/.local/share"},
      {kCsidlInternetCache, h + "/.cache"},
      {kCsidlFavorites, ""},
      {kCsidlRecent, ""},
      {kCsidlSendTo, ""},
      {kCsidlNetHood, ""},
      {kCsidlCommonDesktopDirectory, ""},
      {kCsidlPrintHood, ""},
      {kCsidlCommonFavorites, ""},
      {kCsidlCookies, ""},
      {kCsidlHistory, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Folder(c.csidl), c.expected) << "folder " << c.csidl;
  // The user folders follow the XDG variables; the data override of the
  // program's own files does not move the menu or the fonts.
  ScopedEnv data("XDG_DATA_HOME", h + "/data");
  ScopedEnv config("XDG_CONFIG_HOME", h + "/conf/");
  ScopedEnv kelpo("KELPO_DATA_HOME", h + "/kelpo");
  EXPECT_EQ(Folder(kCsidlPrograms), h + "/data/applications");
  EXPECT_EQ(Folder(kCsidlFonts, true), h + "/data/fonts");
  EXPECT_TRUE(fs::is_directory(h + "/data/fonts"));
  EXPECT_EQ(Folder(kCsidlStartup), h + "/conf/autostart");
}

TEST_F(SpecialFolderTest, UnknownAndUnrepresentableFolders) {
  EXPECT_EQ(Folder(0x0026 /* program files */), "");
  ScopedEnv kelpo("KELPO_DATA_HOME", "/" + std::string(300, 'x'));
  EXPECT_EQ(Folder(kCsidlAppData), "");
  EXPECT_EQ(Folder(kCsidlInternetCache), home_.Path() + "/.cache");
}

}  // namespace
