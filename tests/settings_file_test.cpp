#include "settings_file.h"

#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "desktop_folder.h"
#include "fake_window.h"
#include "file_fixtures.h"

namespace {

using app::Control;

// Narrow literals here are GBK, as the settings file's content is.
constexpr Control kAddress = Control::编辑框_SMTP地址;
constexpr Control kPort = Control::编辑框_smtp端口;
constexpr Control kAccount = Control::编辑框_发信账号;
constexpr Control kPassword = Control::编辑框_发信密码;

// The file's only attribute is hidden: on POSIX, mode 0600. (Wine reports
// the archive attribute on every file, so it is not looked at.)
bool HiddenAlone(const std::string& file) {
#ifdef _WIN32
  const int attributes = FileAttributes(file);
  return attributes != -1 && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY |
                                            FILE_ATTRIBUTE_SYSTEM)) == FILE_ATTRIBUTE_HIDDEN;
#else
  return FileMode(file) == 0600;
#endif
}

// Whether the file holds exactly the bytes written. Wine's profile writer
// trims the blanks around a value and writes the whole file anew (CR LF line
// ends, blank lines dropped); the POSIX writer and, by its documentation,
// Windows' own keep both, so there the bytes are checked.
bool ProfileWriterKeepsBytes() {
#ifdef _WIN32
  return !RunningUnderWine();
#else
  return true;
#endif
}

class SettingsFileTest : public testing::Test {
 protected:
  SettingsFileTest() { EXPECT_TRUE(std::filesystem::create_directory(Desktop())); }

  std::string Desktop() const { return home_.Path() + "/Desktop"; }
  std::string File() const { return Desktop() + "/" + Utf8(u8"邮件发送配置.ini"); }

  static void Type(FakeWindow& window, const std::string& address, const std::string& port,
                   const std::string& account, const std::string& password) {
    window.SetText(kAddress, address);
    window.SetText(kPort, port);
    window.SetText(kAccount, account);
    window.SetText(kPassword, password);
  }
  static std::vector<std::string> Boxes(const FakeWindow& window) {
    return {window.GetText(kAddress), window.GetText(kPort), window.GetText(kAccount),
            window.GetText(kPassword)};
  }
  static std::vector<std::string> Loaded() {
    FakeWindow window;
    Type(window, "x", "x", "x", "x");
    app::LoadSettings(window);
    return Boxes(window);
  }

  TempHome home_;
};

TEST_F(SettingsFileTest, FirstRunEmptiesAllFourBoxesAndWritesNothing) {
  FakeWindow window;
  ASSERT_EQ(window.GetText(kPort), "25");
  window.SetText(kAddress, "typed");
  app::LoadSettings(window);
  EXPECT_EQ(Boxes(window), (std::vector<std::string>{"", "", "", ""}));
  EXPECT_TRUE(window.MessageBoxes().empty());
  EXPECT_TRUE(FolderEntries(Desktop()).empty());
}

TEST_F(SettingsFileTest, MissingKeysEmptyTheirBoxes) {
  ASSERT_TRUE(WriteFileBytes(File(), "[邮箱配置]\r\n账号=me@example.com\r\nSMTP地址=smtp.example.com\r\n"));
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"smtp.example.com", "", "me@example.com", ""}));
}

TEST_F(SettingsFileTest, LongValuesComeBackCutTo10239Bytes) {
  for (const std::size_t length : {10238u, 10239u, 10240u, 50000u}) {
    const std::string value(length, 'p');
    ASSERT_TRUE(WriteFileBytes(File(), "[邮箱配置]\r\n密码=" + value + "\r\n"));
    EXPECT_EQ(Loaded()[3], value.substr(0, 10239)) << length;
  }
}

TEST_F(SettingsFileTest, SaveWritesTheBoxesByteForByteAndMakesTheFilePrivate) {
  FakeWindow window;
  Type(window, "smtp.qq.com", "", "  我的 账号 ", "\"p=w;d\"");
  app::SaveSettings(window);
  if (ProfileWriterKeepsBytes()) {
    EXPECT_EQ(ReadFileBytes(File()),
              "[邮箱配置]\r\nSMTP地址=smtp.qq.com\r\nSMTP端口=\r\n账号=  我的 账号 \r\n密码=\"p=w;d\"\r\n");
  }
  EXPECT_TRUE(HiddenAlone(File()));
  EXPECT_EQ(FolderEntries(Desktop()), std::vector<std::string>{Utf8(u8"邮件发送配置.ini")});
  // Read back with the profile meanings: blanks trimmed, one pair of quotes gone.
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"smtp.qq.com", "", "我的 账号", "p=w;d"}));

  Type(window, "mail.example.com", "465", "", "");
  app::SaveSettings(window);
  EXPECT_EQ(ReadFileBytes(File()),
            "[邮箱配置]\r\nSMTP地址=mail.example.com\r\nSMTP端口=465\r\n账号=\r\n密码=\r\n");
}

TEST_F(SettingsFileTest, SaveKeepsEverythingElseOfTheFile) {
  ASSERT_TRUE(WriteFileBytes(File(),
                             "; 我的配置\n[其他]\n密码=other\n\n[邮箱配置]\n; keep\nSMTP地址 = old\n"
                             "x=1\n\n[last]\ny=2\n"));
  FakeWindow window;
  Type(window, "new", "25", "a@b", "secret");
  app::SaveSettings(window);
  if (!ProfileWriterKeepsBytes()) {
    EXPECT_EQ(Loaded(), (std::vector<std::string>{"new", "25", "a@b", "secret"}));
    return;
  }
  EXPECT_EQ(ReadFileBytes(File()),
            "; 我的配置\n[其他]\n密码=other\n\n[邮箱配置]\n; keep\nSMTP地址 =new\nx=1\n"
            "SMTP端口=25\r\n账号=a@b\r\n密码=secret\r\n\n[last]\ny=2\n");
}

#ifdef _WIN32
// Whatever attributes the file had, every close leaves it hidden alone. (A
// read-only file is not written on Windows; Wine run as root writes it, so
// only the second close's values are checked.)
TEST_F(SettingsFileTest, FileIsHiddenAloneAfterEveryClose) {
  for (const DWORD before : {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_HIDDEN,
                             FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE,
                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN}) {
    ASSERT_TRUE(WriteFileBytes(File(), "[邮箱配置]\r\n"));
    ASSERT_TRUE(SetFileAttributesW(std::filesystem::u8path(File()).c_str(), before));
    FakeWindow window;
    Type(window, "a", "b", "c", "d");
    app::SaveSettings(window);
    EXPECT_TRUE(HiddenAlone(File())) << std::hex << before << ": " << FileAttributes(File());
    app::SaveSettings(window);
    EXPECT_TRUE(HiddenAlone(File())) << std::hex << before;
    EXPECT_EQ(Loaded(), (std::vector<std::string>{"a", "b", "c", "d"}));
    SetFileAttributesW(std::filesystem::u8path(File()).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
}
#else
TEST_F(SettingsFileTest, FileIsOwnerOnlyAfterEveryClose) {
  for (const mode_t before : {0644, 0666, 0600}) {
    ASSERT_TRUE(WriteFileBytes(File(), "[邮箱配置]\r\n"));
    ASSERT_EQ(chmod(File().c_str(), before), 0);
    FakeWindow window;
    Type(window, "a", "b", "c", "d");
    app::SaveSettings(window);
    EXPECT_EQ(FileMode(File()), 0600) << std::oct << before;
    EXPECT_EQ(Loaded(), (std::vector<std::string>{"a", "b", "c", "d"}));
  }
}

// As the read-only attribute asks, the writes fail; the close then leaves the
// file hidden alone, so the next close writes it.
TEST_F(SettingsFileTest, ReadOnlyFileIsKeptThenMadeHiddenOnly) {
  const std::string before = "[邮箱配置]\r\n账号=old\r\n";
  ASSERT_TRUE(WriteFileBytes(File(), before));
  ASSERT_EQ(chmod(File().c_str(), 0400), 0);
  FakeWindow window;
  Type(window, "a", "b", "c", "d");
  app::SaveSettings(window);
  EXPECT_EQ(ReadFileBytes(File()), before);
  EXPECT_TRUE(HiddenAlone(File()));
  app::SaveSettings(window);
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(SettingsFileTest, FailedWritesKeepTheOldFile) {
  const std::string before = "[邮箱配置]\r\nSMTP地址=old.example.com\r\n; 注释\r\n";
  ASSERT_TRUE(WriteFileBytes(File(), before));
  FakeWindow window;
  Type(window, std::string(500, 'a'), "25", "me", "pw");
  {
    const FileSizeLimit limit(before.size() + 8);
    app::SaveSettings(window);
  }
  EXPECT_EQ(ReadFileBytes(File()), before);
  EXPECT_EQ(FolderEntries(Desktop()), std::vector<std::string>{Utf8(u8"邮件发送配置.ini")});
}

#endif  // _WIN32

TEST_F(SettingsFileTest, CorruptFileLoadsAndSavesWithoutLoss) {
  std::mt19937 random(11);
  std::string junk(64 * 1024, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  junk += "\n[邮箱配置\n账号\n=\n";
  ASSERT_TRUE(WriteFileBytes(File(), junk));
  Loaded();
  FakeWindow window;
  Type(window, "a", "b", "c", "d");
  app::SaveSettings(window);
  EXPECT_EQ(Loaded(), (std::vector<std::string>{"a", "b", "c", "d"}));
  if (ProfileWriterKeepsBytes()) {
    EXPECT_EQ(ReadFileBytes(File()).compare(0, junk.size(), junk), 0);
  }
}

TEST_F(SettingsFileTest, ProfileValueSkipsLeadingControlBytesAndBlankNames) {
  ASSERT_TRUE(WriteFileBytes(File(), "[邮箱配置]\r\n账号=me\r\n"));
  struct Case {
    std::string file, section, key, defaultValue, expected;
  };
  const Case cases[] = {
      {File(), "邮箱配置", "账号", "", "me"},
      {" \t\x01" + File(), "\x1F 邮箱配置", "  账号", "", "me"},
      {File(), "邮箱配置", "密码", "", ""},
      {File(), "邮箱配置", "密码", "dflt", "dflt"},
      {" \x01", "邮箱配置", "账号", "dflt", ""},
      {File(), " ", "账号", "dflt", ""},
      {File(), "邮箱配置", "\x20\x1F", "dflt", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(app::ReadProfileValue(c.file, c.section, c.key, c.defaultValue), c.expected)
        << c.file << " [" << c.section << "] " << c.key;
  }
}

#ifdef _WIN32
// The folder the shell reports, at each access: a separator is added unless
// the path ends in one, also after a double-byte character whose trail byte is
// a backslash (乗 is 0x81 0x5C in code page 936).
TEST(DesktopFolderTest, FolderFromTheShellEndsInOneSeparator) {
  const std::string names[] = {"Desktop", Utf8(u8"桌面"), Utf8(u8"乗")};
  for (const std::string& name : names) {
    const TempHome home;
    const std::string folder = home.Path() + "\\" + name;
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::u8path(folder)));
    // TempHome pointed the shell at Desktop; point it at this folder instead.
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                            0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    const std::wstring value = std::filesystem::u8path(folder).wstring();
    RegSetValueExW(key, L"Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    EXPECT_EQ(platform::DesktopFolder(), folder + "\\") << name;
    const std::string file = folder + "\\" + Utf8(u8"邮件发送配置.ini");
    EXPECT_EQ(app::SettingsPath(), file) << name;
    FakeWindow window;
    window.SetText(kAccount, "user");
    app::SaveSettings(window);
    EXPECT_TRUE(HiddenAlone(file)) << name;
  }
}
#else
void MakeFolder(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path; }

void WriteUserDirs(const std::string& configFolder, const std::string& lines) {
  mkdir(configFolder.c_str(), 0700);
  ASSERT_TRUE(WriteFileBytes(configFolder + "/user-dirs.dirs",
                             "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n" +
                                 lines + "\n"));
}

struct DesktopCase {
  const char* name;
  std::function<void(const std::string& home)> arrange;
  std::string folder;  // below the home folder; empty for the home folder itself
};

// Which folder holds the file, as the platform reports it at each access.
TEST(DesktopFolderTest, FolderComesFromUserDirsThenDesktopThenHome) {
  const std::string desk = Utf8(u8"桌面");
  const std::string emoji = Utf8(u8"😀 desk");  // a name GBK cannot hold
  // A desktop entry (with %HOME% for the home folder's path) and the folder
  // it names; $HOME/Desktop exists too, and does not count.
  const auto entry = [](const std::string& value, const std::string& made) {
    return [value, made](const std::string& home) {
      std::string line = "XDG_DESKTOP_DIR=" + value;
      if (const std::size_t at = line.find("%HOME%"); at != std::string::npos) line.replace(at, 6, home);
      WriteUserDirs(home + "/.config", line);
      MakeFolder(home + "/Desktop");
      if (!made.empty()) MakeFolder(home + "/" + made);
    };
  };
  const DesktopCase cases[] = {
      {"entry below home", entry("\"$HOME/" + desk + "\"", desk), desk},
      {"braced variable", entry("\"${HOME}/" + desk + "\"", desk), desk},
      {"relative to home", entry("\"" + desk + "\"", desk), desk},
      {"unquoted", entry("$HOME/" + desk, desk), desk},
      {"escaped characters", entry("\"$HOME/a\\\"b\\$c\"", "a\"b$c"), "a\"b$c"},
      {"name GBK cannot hold", entry("\"$HOME/" + emoji + "\"", emoji), emoji},
      {"absolute path", entry("\"%HOME%/abs\"", "abs"), "abs"},
      {"home itself", entry("\"$HOME/\"", ""), ""},
      {"entry of a missing folder", entry("\"$HOME/gone\"", ""), ""},
      {"last entry counts",
       [&](const std::string& home) {
         WriteUserDirs(home + "/.config",
                       "XDG_DESKTOP_DIR=\"$HOME/gone\"\n  XDG_DESKTOP_DIR=\"$HOME/" + desk + "\"");
         MakeFolder(home + "/" + desk);
       },
       desk},
      {"no entry",
       [](const std::string& home) {
         WriteUserDirs(home + "/.config", "");
         MakeFolder(home + "/Desktop");
       },
       "Desktop"},
      {"other config folder",
       [&](const std::string& home) {
         WriteUserDirs(home + "/cfg", "XDG_DESKTOP_DIR=\"$HOME/" + desk + "\"");
         MakeFolder(home + "/" + desk);
         setenv("XDG_CONFIG_HOME", (home + "/cfg").c_str(), 1);
       },
       desk},
      {"config folder unset is ~/.config",
       [&](const std::string& home) {
         WriteUserDirs(home + "/.config", "XDG_DESKTOP_DIR=\"$HOME/" + desk + "\"");
         MakeFolder(home + "/" + desk);
         unsetenv("XDG_CONFIG_HOME");
       },
       desk},
      {"relative config folder is ignored",
       [&](const std::string& home) {
         WriteUserDirs(home + "/.config", "XDG_DESKTOP_DIR=\"$HOME/" + desk + "\"");
         MakeFolder(home + "/" + desk);
         setenv("XDG_CONFIG_HOME", "cfg", 1);
       },
       desk},
      {"no user dirs file", [](const std::string& home) { MakeFolder(home + "/Desktop"); }, "Desktop"},
      {"no desktop folder", [](const std::string&) {}, ""},
      {"home ending in a separator",
       [](const std::string& home) { setenv("HOME", (home + "/").c_str(), 1); }, ""},
  };
  for (const DesktopCase& c : cases) {
    const TempHome home;
    c.arrange(home.Path());
    const std::string folder = home.Path() + "/" + (c.folder.empty() ? "" : c.folder + "/");
    EXPECT_EQ(platform::DesktopFolder(), folder) << c.name;
    const std::string file = folder + Utf8(u8"邮件发送配置.ini");
    EXPECT_EQ(app::SettingsPath(), file) << c.name;
    FakeWindow window;
    window.SetText(kAccount, "user");
    app::SaveSettings(window);
    EXPECT_EQ(FileMode(file), 0600) << c.name;
  }
}

#endif  // _WIN32

}  // namespace
