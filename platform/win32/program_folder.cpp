#include "program_folder.h"

#include <windows.h>

#include <string>

namespace platform {

bool EnterProgramFolder() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return false;
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: try a larger buffer
  }
  // The folder ends at the last backslash that is a character of its own, not
  // the trail byte of a double-byte character.
  std::size_t folderEnd = std::string::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
      ++i;
    } else if (path[i] == '\\') {
      folderEnd = i;
    }
  }
  if (folderEnd == std::string::npos) return false;
  path.resize(folderEnd + 1);  // keeping the backslash keeps a drive root a root
  return SetCurrentDirectoryA(path.c_str()) != 0;
}

}  // namespace platform
