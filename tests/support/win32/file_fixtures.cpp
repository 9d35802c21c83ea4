// The file fixtures on Windows. Names are UTF-8, as at the platform
// interface; the files are opened through their UTF-16 names.
#include "file_fixtures.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string name = path.u8string();
  return std::string(reinterpret_cast<const char*>(name.data()), name.size());
}

// Where the shell finds the desktop folder: the value is looked up afresh at
// every request, so pointing it at the temporary home moves the desktop.
constexpr wchar_t kShellFolders[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

struct RegistryValue {
  bool present = false;
  DWORD type = REG_EXPAND_SZ;
  std::wstring data;
};

RegistryValue ReadDesktopValue() {
  RegistryValue value;
  wchar_t buffer[4096];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"Desktop", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                   RRF_NOEXPAND, &value.type, buffer, &size) == ERROR_SUCCESS) {
    value.present = true;
    value.data.assign(buffer, size / sizeof(wchar_t) - 1);
  }
  return value;
}

void WriteDesktopValue(const RegistryValue& value) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "the shell folders key cannot be written";
    return;
  }
  if (value.present) {
    RegSetValueExW(key, L"Desktop", 0, value.type, reinterpret_cast<const BYTE*>(value.data.c_str()),
                   static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
  } else {
    RegDeleteValueW(key, L"Desktop");
  }
  RegCloseKey(key);
}

// The desktop value before the first TempHome of the process.
RegistryValue savedDesktop;

}  // namespace

TempHome::TempHome() {
  std::random_device random;
  std::error_code error;
  fs::path folder;
  do {
    folder = fs::temp_directory_path(error) / ("home-" + std::to_string(random()));
  } while (!error && !fs::create_directory(folder, error) && !error);
  if (error) ADD_FAILURE() << "no temporary folder: " << error.message();
  path_ = Utf8Of(folder);
  savedDesktop = ReadDesktopValue();
  WriteDesktopValue({true, REG_SZ, (folder / L"Desktop").wstring()});
}

TempHome::~TempHome() {
  WriteDesktopValue(savedDesktop);
  std::error_code error;
  // A test may have made files read-only; that must not keep them.
  for (auto it = fs::recursive_directory_iterator(PathOf(path_), error); !error && it != fs::end(it);
       it.increment(error)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  fs::remove_all(PathOf(path_), error);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(PathOf(path), std::ios::binary | std::ios::ate);
  if (!file) return {};
  std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
  file.seekg(0);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(PathOf(path), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

int FileAttributes(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(PathOf(path).c_str());
  return attributes == INVALID_FILE_ATTRIBUTES ? -1 : static_cast<int>(attributes);
}

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(PathOf(folder), error)) {
    names.push_back(Utf8Of(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Utf8(std::u8string_view text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}
