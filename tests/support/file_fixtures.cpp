#include "file_fixtures.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <system_error>

#include <gtest/gtest.h>

TempHome::SavedVariable TempHome::Save(const char* name) {
  const char* value = getenv(name);
  return {name, value != nullptr, value != nullptr ? value : ""};
}

void TempHome::Restore(const SavedVariable& variable) {
  if (variable.wasSet) {
    setenv(variable.name, variable.value.c_str(), 1);
  } else {
    unsetenv(variable.name);
  }
}

TempHome::TempHome() : home_(Save("HOME")), configHome_(Save("XDG_CONFIG_HOME")) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/home-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed for " << pattern;
  path_ = pattern;
  setenv("HOME", path_.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
}

TempHome::~TempHome() {
  Restore(home_);
  Restore(configHome_);
  // A test may have taken rights away; give them back so that all goes.
  namespace fs = std::filesystem;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::end(it);
       it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return {};
  std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
  file.seekg(0);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

int FileMode(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Utf8(std::u8string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
  getrlimit(RLIMIT_FSIZE, &saved_);
  savedHandler_ = signal(SIGXFSZ, SIG_IGN);
  rlimit limit = saved_;
  limit.rlim_cur = bytes;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) ADD_FAILURE() << "setrlimit failed";
}

FileSizeLimit::~FileSizeLimit() {
  setrlimit(RLIMIT_FSIZE, &saved_);
  signal(SIGXFSZ, savedHandler_);
}
