#include "desktop_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

// The desktop folder is XDG_DESKTOP_DIR of $XDG_CONFIG_HOME/user-dirs.dirs
// (XDG_CONFIG_HOME unset, empty or relative: ~/.config), read as xdg-user-dirs
// writes it: "$HOME/..." below the home folder, "/..." absolute, anything else
// relative to the home folder; the last assignment in the file counts. Without
// an entry it is $HOME/Desktop. When the folder does not exist, the home folder
// itself serves, so a machine without a desktop still keeps its settings. The
// home folder is $HOME, else the password database's entry for this user; with
// neither there is no folder and the result is empty.
namespace platform {
namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// The value of one shell-style assignment: double quotes removed and the
// backslash escapes that xdg-user-dirs writes undone.
std::string ShellValue(std::string_view text) {
  std::string value;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < text.size()) {
      value += text[++i];
    } else if (!quoted && (c == ' ' || c == '\t' || c == '#')) {
      break;
    } else {
      value += c;
    }
  }
  return value;
}

// relative below folder, with one separator between them.
std::string Below(const std::string& folder, std::string_view relative) {
  std::string path = folder;
  if (!path.ends_with('/')) path += '/';
  relative.remove_prefix(std::min(relative.find_first_not_of('/'), relative.size()));
  return path.append(relative);
}

std::optional<std::string> UserDirsDesktop(const std::string& home) {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  const std::string configFolder =
      configHome != nullptr && configHome[0] == '/' ? std::string(configHome) : Below(home, ".config");
  std::ifstream file(Below(configFolder, "user-dirs.dirs"));
  std::optional<std::string> desktop;
  constexpr std::string_view kName = "XDG_DESKTOP_DIR=";
  for (std::string line; std::getline(file, line);) {
    std::string_view rest(line);
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t"), rest.size()));
    if (!rest.starts_with(kName)) continue;
    const std::string value = ShellValue(rest.substr(kName.size()));
    std::string_view relative(value);
    for (std::string_view variable : {"$HOME", "${HOME}"}) {
      if (relative.starts_with(variable) &&
          (relative.size() == variable.size() || relative[variable.size()] == '/')) {
        relative.remove_prefix(variable.size());
        break;
      }
    }
    desktop = relative.starts_with('/') && relative.size() == value.size()
                  ? value
                  : Below(home, relative);
  }
  return desktop;
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string WithSeparator(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

}  // namespace

std::string DesktopFolder() {
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  std::string desktop = UserDirsDesktop(home).value_or(Below(home, "Desktop"));
  return WithSeparator(IsFolder(desktop) ? std::move(desktop) : home);
}

}  // namespace platform
