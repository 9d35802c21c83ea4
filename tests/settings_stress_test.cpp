// The settings file as a user's machine may leave it: missing, empty, cut
// off, junk, with a byte-order mark, with duplicates, huge, or something
// other than a file at its name. Whatever is there, the window starts (the
// load returns with the boxes filled or empty), the close never crashes, a
// file that could be replaced is replaced whole (owner-only, the typed values
// reading back, every other line kept) and anything that could not be
// replaced stays byte for byte.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "fake_window.h"
#include "file_fixtures.h"
#include "settings_file.h"

namespace {

using app::Control;

constexpr Control kBoxes[] = {Control::编辑框_SMTP地址, Control::编辑框_smtp端口,
                              Control::编辑框_发信账号, Control::编辑框_发信密码};
// What the user has typed by the close; chosen to read back unchanged.
const std::vector<std::string> kTyped = {"smtp.例子.com", "587", "我 <me@x.cn>", "p;a=ss\"w"};

std::vector<std::string> LoadBoxes() {
  FakeWindow window;
  for (const Control box : kBoxes) window.SetText(box, "stale");
  app::LoadSettings(window);
  std::vector<std::string> boxes;
  for (const Control box : kBoxes) boxes.push_back(window.GetText(box));
  return boxes;
}

void SaveTyped() {
  FakeWindow window;
  for (std::size_t i = 0; i < kTyped.size(); ++i) window.SetText(kBoxes[i], kTyped[i]);
  app::SaveSettings(window);
}

// Every regular file and link below folder, but the settings file: its bytes
// or where it points.
std::map<std::string, std::string> Snapshot(const std::string& folder, const std::string& except) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::end(it); ++it) {
    const std::string path = it->path().string();
    if (path == except) continue;  // a folder there is still looked into
    if (it->is_symlink()) {
      entries[path] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_regular_file()) {
      entries[path] = ReadFileBytes(path);
    } else {
      entries[path] = it->is_directory() ? "folder" : "other";
    }
  }
  return entries;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    end = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end);
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
  }
  return lines;
}

// The old lines are all in the new file, in order; at most the four keys'
// lines have a new value after their "=".
void ExpectEveryOtherLineKept(std::string_view before, std::string_view after) {
  const std::vector<std::string_view> old = Lines(before);
  const std::vector<std::string_view> now = Lines(after);
  std::size_t at = 0;
  int changedValues = 0;
  for (const std::string_view line : old) {
    const std::size_t equals = line.find('=');
    while (at < now.size() && now[at] != line &&
           !(equals != std::string_view::npos && now[at].substr(0, equals + 1) == line.substr(0, equals + 1)))
      ++at;
    ASSERT_LT(at, now.size()) << "line lost: " << line;
    changedValues += now[at] != line;
    ++at;
  }
  EXPECT_LE(changedValues, 4);
  EXPECT_LE(now.size(), old.size() + 5);  // at most the section line and four keys added
}

struct StressCase {
  const char* name;
  // Puts something at the settings file's name; home is the home folder.
  std::function<void(const std::string& file, const std::string& home)> arrange;
  std::vector<std::string> loaded;  // the four boxes after the start
  bool replaceable;                 // whether the close can write the file
};

std::string Junk(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

void Write(const std::string& path, const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(path, bytes)); }

const std::vector<std::string> kEmpty = {"", "", "", ""};

const StressCase kCases[] = {
    {"Missing", [](const std::string&, const std::string&) {}, kEmpty, true},
    {"Empty", [](const std::string& f, const std::string&) { Write(f, ""); }, kEmpty, true},
    {"TruncatedInAValue",
     [](const std::string& f, const std::string&) { Write(f, "[邮箱配置]\r\nSMTP地址=smtp.a.com\r\nSMTP端口=2"); },
     {"smtp.a.com", "2", "", ""}, true},
    {"TruncatedBetweenCrAndLf",
     [](const std::string& f, const std::string&) { Write(f, "[邮箱配置]\r\n账号=me\r"); },
     {"", "", "me", ""}, true},
    {"TruncatedInsideACharacter",
     [](const std::string& f, const std::string&) {
       Write(f, "[邮箱配置]\r\n账号=me\r\n" + std::string("密码").substr(0, 3));
     },
     {"", "", "me", ""}, true},
    {"BinaryJunk",
     [](const std::string& f, const std::string&) { Write(f, Junk(256 * 1024, 5) + "\r\n=\r\n[\r\n]"); },
     kEmpty, true},
    // The BOM makes the first line no section line: the program's own
    // section is then missing and is added at the end.
    {"Utf8ByteOrderMark",
     [](const std::string& f, const std::string&) { Write(f, "\xEF\xBB\xBF[邮箱配置]\r\nSMTP地址=bom.example\r\n"); },
     kEmpty, true},
    {"ByteOrderMarkOnAnotherSection",
     [](const std::string& f, const std::string&) {
       Write(f, "\xEF\xBB\xBF[x]\r\n[邮箱配置]\r\nSMTP地址=after.bom\r\n");
     },
     {"after.bom", "", "", ""}, true},
    {"DuplicateSectionsAndKeys",
     [](const std::string& f, const std::string&) {
       Write(f, "[邮箱配置]\r\nSMTP地址=first\r\nsmtp地址=second\r\n[其他]\r\n账号=other\r\n"
                "[邮箱配置]\r\nSMTP端口=99\r\n账号=dup\r\n");
     },
     {"first", "", "", ""}, true},
    {"FiftyMegabytes",
     [](const std::string& f, const std::string&) {
       std::string big;
       big.reserve(50u << 20);
       while (big.size() < (50u << 20)) big += "; 一行注释 of a file that has grown beyond reason\r\n";
       Write(f, big + "[邮箱配置]\r\n密码=found at the end\r\n");
     },
     {"", "", "", "found at the end"}, true},
    {"FolderInItsPlace",
     [](const std::string& f, const std::string&) {
       ASSERT_EQ(mkdir(f.c_str(), 0700), 0);
       Write(f + "/inside.txt", "kept");
     },
     kEmpty, false},
    {"FifoInItsPlace",
     [](const std::string& f, const std::string&) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }, kEmpty,
     false},
    // The link is replaced by a file of the program's own; its target stays.
    {"SymlinkInItsPlace",
     [](const std::string& f, const std::string& home) {
       Write(home + "/elsewhere.ini", "[邮箱配置]\r\n账号=linked\r\n");
       ASSERT_EQ(symlink((home + "/elsewhere.ini").c_str(), f.c_str()), 0);
     },
     {"", "", "linked", ""}, true},
    {"DanglingSymlinkInItsPlace",
     [](const std::string& f, const std::string& home) {
       ASSERT_EQ(symlink((home + "/nowhere.ini").c_str(), f.c_str()), 0);
     },
     kEmpty, true},
};

class SettingsStressTest : public testing::TestWithParam<StressCase> {
 protected:
  SettingsStressTest() { EXPECT_EQ(mkdir(Desktop().c_str(), 0700), 0); }
  std::string Desktop() const { return home_.Path() + "/Desktop"; }
  std::string File() const { return Desktop() + "/" + Utf8(u8"邮件发送配置.ini"); }

  TempHome home_;
};

TEST_P(SettingsStressTest, StartsClosesAndLosesNothing) {
  const StressCase& c = GetParam();
  c.arrange(File(), home_.Path());
  ASSERT_FALSE(HasFatalFailure());
  const std::map<std::string, std::string> othersBefore = Snapshot(home_.Path(), File());
  // Only a file is read here: a FIFO would block the test itself.
  const std::string before = c.replaceable ? ReadFileBytes(File()) : std::string();

  EXPECT_EQ(LoadBoxes(), c.loaded);
  SaveTyped();

  EXPECT_EQ(Snapshot(home_.Path(), File()), othersBefore) << "something beside the file changed";
  struct stat info {};
  ASSERT_EQ(lstat(File().c_str(), &info), 0);
  if (c.replaceable) {
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(LoadBoxes(), kTyped);
    ExpectEveryOtherLineKept(before, ReadFileBytes(File()));
    // A second close writes over the program's own file alike (not timed
    // again for the huge file: each close reads and writes it four times).
    if (before.size() > (1u << 20)) return;
    SaveTyped();
    EXPECT_EQ(FileMode(File()), 0600);
    EXPECT_EQ(LoadBoxes(), kTyped);
  } else {
    EXPECT_FALSE(S_ISREG(info.st_mode));
    EXPECT_EQ(LoadBoxes(), kEmpty);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsStressTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<StressCase>& info) { return info.param.name; });

// A folder the user cannot write: the close fails quietly and the file keeps
// every byte. Root writes any folder, so the close runs in a child process
// that has dropped to an unprivileged user when the test runs as root.
TEST_F(SettingsStressTest, ReadOnlyFolderKeepsTheFile) {
  const std::string before = "[邮箱配置]\r\nSMTP地址=kept.example\r\n账号=me\r\n";
  Write(File(), before);
  ASSERT_EQ(chmod(File().c_str(), 0644), 0);
  constexpr uid_t kNobody = 65534;
  if (geteuid() == 0) {
    for (const std::string& path : {home_.Path(), Desktop(), File()}) {
      ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0) << path;
    }
  }
  ASSERT_EQ(chmod(Desktop().c_str(), 0500), 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
    if (LoadBoxes() != std::vector<std::string>{"kept.example", "", "me", ""}) _exit(3);
    SaveTyped();
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the close crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(File()), before);
  EXPECT_EQ(FolderEntries(Desktop()), std::vector<std::string>{Utf8(u8"邮件发送配置.ini")});
  // Its owner may still change its mode: the close leaves it owner-only.
  EXPECT_EQ(FileMode(File()), 0600);
  ASSERT_EQ(chmod(Desktop().c_str(), 0700), 0);
}

}  // namespace
