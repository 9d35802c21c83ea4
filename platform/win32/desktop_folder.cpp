#include "desktop_folder.h"

#include <windows.h>
#include <shlobj.h>

#include "text_codec.h"

// File names cross the platform interface in UTF-8, as on POSIX, so the
// handlers build the same path everywhere; the Windows services convert them
// to and from the ANSI code page of the A functions.
namespace platform {

std::string DesktopFolder() {
  char folder[MAX_PATH] = "";
  if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_DESKTOPDIRECTORY, FALSE)) return {};
  std::string path = GbkToUtf8(folder);
  // In UTF-8 a final backslash byte is a backslash, never the trail byte of a
  // double-byte character, so a folder ending in one gets its separator too.
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

}  // namespace platform
