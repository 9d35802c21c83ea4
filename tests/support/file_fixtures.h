#pragma once
#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

// Files and folders for the tests of the settings file and its services.

// A fresh temporary folder made the home of the test: HOME points at it and
// XDG_CONFIG_HOME at its ".config", both restored, and the folder removed,
// when the object goes.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  // The folder, without a trailing "/".
  const std::string& Path() const { return path_; }

 private:
  struct SavedVariable {
    const char* name;
    bool wasSet;
    std::string value;
  };
  static SavedVariable Save(const char* name);
  static void Restore(const SavedVariable& variable);

  SavedVariable home_;
  SavedVariable configHome_;
  std::string path_;
};

// The whole content of a file; the empty text when it cannot be read.
std::string ReadFileBytes(const std::string& path);
// Replaces the file's content; false when it could not be written.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

#ifdef _WIN32
// The Windows attributes of the file; -1 when there is none.
int FileAttributes(const std::string& path);
// True when the program runs under Wine rather than Windows.
bool RunningUnderWine();
#else
// The permission bits of the file itself (a link is not followed); -1 when
// there is none.
int FileMode(const std::string& path);
#endif
// The names in a folder, sorted.
std::vector<std::string> FolderEntries(const std::string& folder);
// The bytes of a UTF-8 literal, for file names in a GBK-compiled test.
std::string Utf8(std::u8string_view text);

#ifndef _WIN32
// While it lives, no file of this process can grow beyond bytes: a write past
// that fails with EFBIG (its signal is ignored), even for root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*savedHandler_)(int) = nullptr;
};
#endif  // _WIN32
