#include "desktop_folder.h"

#include <windows.h>
#include <shlobj.h>

namespace platform {

std::string DesktopFolder() {
  char folder[MAX_PATH] = "";
  if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_DESKTOPDIRECTORY, FALSE)) return {};
  std::string path(folder);
  // Only the last byte is looked at: a GBK character whose trail byte is 0x5C
  // then ends the path, and the file name's own backslash still separates.
  if (path.empty() || path.back() != '\\') path += '\\';
  return path;
}

}  // namespace platform
