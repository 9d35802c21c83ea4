#include "profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "file_attributes.h"
#include "file_fixtures.h"

namespace {

class ProfileTest : public testing::Test {
 protected:
  std::string Path(const std::string& name = "settings.ini") const { return home_.Path() + "/" + name; }

  TempHome home_;
};

struct ReadCase {
  const char* name;
  std::string content;
  std::string section;
  std::string key;
  std::string expected;
  std::size_t capacity = 100;
};

TEST_F(ProfileTest, ReadsWithTheProfileMeanings) {
  const ReadCase cases[] = {
      {"names ignore ascii case", "[Mail]\r\nHost=a\r\n", "mAIL", "HOST", "a"},
      {"lf lines", "[S]\nk=a\nj=b\n", "S", "j", "b"},
      {"cr lf lines", "[S]\r\nk=a\r\nj=b\r\n", "S", "k", "a"},
      {"last line without a break", "[S]\nk=a", "S", "k", "a"},
      {"blanks around names and values", "  [ S ] \n \t k \t=  a b \t\r\n", "S", "k", "a b"},
      {"blank names given", "[S]\nk=a\n", " S ", " k\t", "a"},
      {"matching quotes removed", "[S]\nk= \"  a  \" \n", "S", "k", "  a  "},
      {"one quote kept", "[S]\nk=\"a\n", "S", "k", "\"a"},
      {"a lone quote kept", "[S]\nk=\"\n", "S", "k", "\""},
      {"inner equals sign", "[S]\nk=a=b;c\n", "S", "k", "a=b;c"},
      {"empty value is no default", "[S]\nk=\n", "S", "k", ""},
      {"comment line skipped", "[S]\n;k=hidden\n  ;k=hidden\nk=shown\n", "S", "k", "shown"},
      {"comment line only", "[S]\n;k=hidden\n", "S", "k", "default"},
      {"first key wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
      {"first section wins", "[S]\nk=1\n[s]\nk=2\n", "S", "k", "1"},
      {"only the first section is searched", "[S]\nj=1\n[S]\nk=2\n", "S", "k", "default"},
      {"key of another section", "[T]\nk=1\n[S]\nj=2\n", "S", "k", "default"},
      {"key before any section", "k=1\n[S]\n", "S", "k", "default"},
      {"missing section", "[T]\nk=1\n", "S", "k", "default"},
      {"empty file", "", "S", "k", "default"},
      {"gbk names", "[邮箱配置]\r\n账号=user\r\n", "邮箱配置", "账号", "user"},
      {"no case folding inside a double-byte character", "[\x81\x41]\nk=1\n", "\x81\x61", "k",
       "default"},
      {"] as a second byte does not end a section name", "[\x81]]\nk=1\n", "\x81]", "k", "1"},
      {"cut to capacity - 1", "[S]\nk=abcdef\n", "S", "k", "abc", 4},
      {"capacity 1 leaves nothing", "[S]\nk=abcdef\n", "S", "k", "", 1},
      {"default cut too", "", "S", "k", "def", 4},
      {"nul bytes in a value", std::string("[S]\nk=a\0b\n", 10), "S", "k", std::string("a\0b", 3)},
  };
  for (const ReadCase& c : cases) {
    ASSERT_TRUE(WriteFileBytes(Path(), c.content));
    EXPECT_EQ(platform::ReadProfileString(Path(), c.section, c.key, "default", c.capacity), c.expected)
        << c.name;
  }
}

TEST_F(ProfileTest, MissingOrUnreadableFileGivesTheDefault) {
  EXPECT_EQ(platform::ReadProfileString(Path("none.ini"), "S", "k", "dflt", 100), "dflt");
  ASSERT_EQ(mkdir(Path("folder.ini").c_str(), 0700), 0);
  EXPECT_EQ(platform::ReadProfileString(Path("folder.ini"), "S", "k", "dflt", 100), "dflt");
  ASSERT_EQ(mkfifo(Path("fifo.ini").c_str(), 0600), 0);  // must not block
  EXPECT_EQ(platform::ReadProfileString(Path("fifo.ini"), "S", "k", "dflt", 100), "dflt");
}

struct WriteCase {
  const char* name;
  std::string before;
  std::string section, key, value;
  std::string after;
};

// Every byte outside the value written stays where it was.
TEST_F(ProfileTest, WritingChangesOnlyTheValueOrAddsOneLine) {
  const std::string kFile =
      ";top comment\n[Other]\nHost = keep\n\n[Mail]  \n; note\n  HOST = old value \nPort=25\n\n"
      "; about Last\n[Last]\nx=1";
  const WriteCase cases[] = {
      {"value replaced after the equals sign", kFile, "mail", "host", "new",
       ";top comment\n[Other]\nHost = keep\n\n[Mail]  \n; note\n  HOST =new\nPort=25\n\n"
       "; about Last\n[Last]\nx=1"},
      {"empty value keeps the key", kFile, "Mail", "Port", "",
       ";top comment\n[Other]\nHost = keep\n\n[Mail]  \n; note\n  HOST = old value \nPort=\n\n"
       "; about Last\n[Last]\nx=1"},
      {"key added after the section's last key", kFile, "Mail", "User", "u",
       ";top comment\n[Other]\nHost = keep\n\n[Mail]  \n; note\n  HOST = old value \nPort=25\n"
       "User=u\r\n\n; about Last\n[Last]\nx=1"},
      {"key added to a last line without a break", kFile, "Last", "y", "2",
       ";top comment\n[Other]\nHost = keep\n\n[Mail]  \n; note\n  HOST = old value \nPort=25\n\n"
       "; about Last\n[Last]\nx=1\r\ny=2\r\n"},
      {"key added to a last line cut between CR and LF", "[S]\r\nx=1\r", "S", "y", "2",
       "[S]\r\nx=1\r\r\ny=2\r\n"},
      {"section added at the end", kFile, "New", "k", "v",
       ";top comment\n[Other]\nHost = keep\n\n[Mail]  \n; note\n  HOST = old value \nPort=25\n\n"
       "; about Last\n[Last]\nx=1\r\n[New]\r\nk=v\r\n"},
      {"key added to an empty section", "[S]\r\n[T]\r\n", "S", "k", "v", "[S]\r\nk=v\r\n[T]\r\n"},
      {"only the first of two sections", "[S]\na=1\n[S]\nk=2\n", "S", "k", "3",
       "[S]\na=1\nk=3\r\n[S]\nk=2\n"},
      {"value as given", "[S]\r\nk=1\r\n", "S", "k", " \"a;b\" = 密码 ", "[S]\r\nk= \"a;b\" = 密码 \r\n"},
      {"new file", "", "邮箱配置", "账号", "me", "[邮箱配置]\r\n账号=me\r\n"},
  };
  for (const WriteCase& c : cases) {
    ASSERT_TRUE(WriteFileBytes(Path(), c.before));
    EXPECT_TRUE(platform::WriteProfileString(Path(), c.section, c.key, c.value)) << c.name;
    EXPECT_EQ(ReadFileBytes(Path()), c.after) << c.name;
  }
  ASSERT_EQ(unlink(Path().c_str()), 0);
  EXPECT_TRUE(platform::WriteProfileString(Path(), "S", "k", "v"));
  EXPECT_EQ(ReadFileBytes(Path()), "[S]\r\nk=v\r\n");
}

TEST_F(ProfileTest, RefusesWhatOneLineCannotHold) {
  const std::string kBefore = "[S]\r\nk=1\r\n";
  const WriteCase cases[] = {
      {"line break in the value", kBefore, "S", "k", "a\r\n[T]", kBefore},
      {"line feed in the key", kBefore, "S", "k\nj", "1", kBefore},
      {"equals sign in the key", kBefore, "S", "k=j", "1", kBefore},
      {"bracket in the section", kBefore, "S]", "k", "1", kBefore},
      {"section ending in a lead byte that would swallow its bracket", kBefore, "S\xD6", "k", "1",
       kBefore},
      {"empty key", kBefore, "S", " ", "1", kBefore},
      {"empty section", kBefore, "", "k", "1", kBefore},
  };
  for (const WriteCase& c : cases) {
    ASSERT_TRUE(WriteFileBytes(Path(), c.before));
    EXPECT_FALSE(platform::WriteProfileString(Path(), c.section, c.key, c.value)) << c.name;
    EXPECT_EQ(ReadFileBytes(Path()), c.after) << c.name;
  }
}

TEST_F(ProfileTest, WrittenFileIsOwnerOnlyWhateverItWasAndTheUmask) {
  const mode_t savedMask = umask(0);
  EXPECT_TRUE(platform::WriteProfileString(Path(), "S", "k", "secret"));
  EXPECT_EQ(FileMode(Path()), 0600);
  ASSERT_EQ(chmod(Path().c_str(), 0644), 0);
  EXPECT_TRUE(platform::WriteProfileString(Path(), "S", "k", "secret2"));
  EXPECT_EQ(FileMode(Path()), 0600);
  umask(0277);  // would take the owner's write right from a new file
  EXPECT_TRUE(platform::WriteProfileString(Path(), "S", "k", "secret3"));
  EXPECT_EQ(FileMode(Path()), 0600);
  umask(savedMask);
  EXPECT_EQ(ReadFileBytes(Path()), "[S]\r\nk=secret3\r\n");
}

// A write that fails part-way leaves the old file whole and no stray file.
TEST_F(ProfileTest, FailedWriteLeavesTheOldFileByteForByte) {
  const std::string before = "[S]\r\nk=old\r\n; end\r\n";
  ASSERT_TRUE(WriteFileBytes(Path(), before));
  {
    const FileSizeLimit limit(100);
    EXPECT_FALSE(platform::WriteProfileString(Path(), "S", "k", std::string(200, 'x')));
  }
  EXPECT_EQ(ReadFileBytes(Path()), before);
  EXPECT_EQ(FolderEntries(home_.Path()), std::vector<std::string>{"settings.ini"});
}

TEST_F(ProfileTest, ReadOnlyFileOrFolderIsNotWritten) {
  const std::string before = "[S]\r\nk=old\r\n";
  ASSERT_TRUE(WriteFileBytes(Path(), before));
  ASSERT_EQ(chmod(Path().c_str(), 0400), 0);
  EXPECT_FALSE(platform::WriteProfileString(Path(), "S", "k", "new"));
  EXPECT_EQ(ReadFileBytes(Path()), before);
  EXPECT_EQ(FileMode(Path()), 0400);

  ASSERT_EQ(chmod(Path().c_str(), 0600), 0);
  ASSERT_EQ(chmod(home_.Path().c_str(), 0500), 0);
  // The file system enforces a folder's rights on everyone but root.
  if (geteuid() != 0) {
    EXPECT_FALSE(platform::WriteProfileString(Path(), "S", "k", "new"));
    EXPECT_EQ(ReadFileBytes(Path()), before);
  }
  ASSERT_EQ(chmod(home_.Path().c_str(), 0700), 0);
}

TEST_F(ProfileTest, FolderInPlaceOfTheFileIsNotWritten) {
  ASSERT_EQ(mkdir(Path().c_str(), 0700), 0);
  ASSERT_TRUE(WriteFileBytes(Path() + "/inside", "x"));
  EXPECT_FALSE(platform::WriteProfileString(Path(), "S", "k", "v"));
  EXPECT_EQ(ReadFileBytes(Path() + "/inside"), "x");
  EXPECT_EQ(FolderEntries(home_.Path()), std::vector<std::string>{"settings.ini"});
}

// The link is replaced by a file of its own; what it pointed at is untouched.
TEST_F(ProfileTest, SymbolicLinkIsReplacedNotFollowed) {
  const std::string target = Path("target.ini");
  ASSERT_TRUE(WriteFileBytes(target, "[S]\nold=1\n"));
  ASSERT_EQ(symlink(target.c_str(), Path().c_str()), 0);
  EXPECT_EQ(platform::ReadProfileString(Path(), "S", "old", "", 100), "1");
  EXPECT_TRUE(platform::WriteProfileString(Path(), "S", "k", "v"));
  EXPECT_EQ(ReadFileBytes(target), "[S]\nold=1\n");
  struct stat info {};
  ASSERT_EQ(lstat(Path().c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(ReadFileBytes(Path()), "[S]\nold=1\nk=v\r\n");
}

// Junk, long lines and many lines: the junk stays, the key goes at the end.
TEST_F(ProfileTest, BinaryAndLargeFilesReadAndWriteWhole) {
  std::mt19937 random(7);
  std::string junk(1 << 20, '\0');
  for (char& c : junk) c = static_cast<char>(random());
  std::string large;
  for (int i = 0; large.size() < (4u << 20); ++i) large += "[S" + std::to_string(i) + "]\nkey=value\n";
  for (const std::string& before : {junk, large, std::string(1 << 20, '[')}) {
    ASSERT_TRUE(WriteFileBytes(Path(), before));
    EXPECT_EQ(platform::ReadProfileString(Path(), "none", "k", "dflt", 100), "dflt");
    ASSERT_TRUE(platform::WriteProfileString(Path(), "none", "k", "v"));
    EXPECT_EQ(platform::ReadProfileString(Path(), "none", "k", "dflt", 100), "v");
    const std::string after = ReadFileBytes(Path());
    EXPECT_EQ(after.compare(0, before.size(), before), 0);
    EXPECT_TRUE(after.ends_with("[none]\r\nk=v\r\n"));
  }
}

struct AttributeCase {
  unsigned attributes;
  int mode;
};

TEST_F(ProfileTest, FileAttributesBecomeTheModeBits) {
  const AttributeCase cases[] = {
      {platform::kAttributeHidden, 0600},
      {platform::kAttributeHidden | platform::kAttributeReadOnly, 0400},
      {0, 0644},
      {platform::kAttributeReadOnly, 0444},
      {platform::kAttributeHidden | platform::kAttributeSystem | platform::kAttributeArchive | 0x100, 0600},
  };
  ASSERT_TRUE(WriteFileBytes(Path(), "x"));
  for (const AttributeCase& c : cases) {
    ASSERT_EQ(chmod(Path().c_str(), 0777), 0);
    EXPECT_TRUE(platform::SetFileAttributes(Path(), c.attributes)) << c.attributes;
    EXPECT_EQ(FileMode(Path()), c.mode) << c.attributes;
  }
  ASSERT_EQ(chmod(Path().c_str(), 0644), 0);
  ASSERT_EQ(symlink(Path().c_str(), Path("link").c_str()), 0);
  EXPECT_FALSE(platform::SetFileAttributes(Path("link"), platform::kAttributeHidden));
  EXPECT_EQ(FileMode(Path()), 0644);
  EXPECT_FALSE(platform::SetFileAttributes(home_.Path(), platform::kAttributeHidden));
  EXPECT_FALSE(platform::SetFileAttributes(Path("none"), platform::kAttributeHidden));
}

}  // namespace
