#include "profile.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "text_codec.h"

// windows.h maps the name onto the win.ini function; this file defines the
// portable one over the private-profile functions.
#undef WriteProfileString

// File names arrive in UTF-8 (see desktop_folder.cpp); the section and key
// names and values are the file's content, GBK, and pass through unchanged.
namespace platform {
namespace {

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != text.npos; }

}  // namespace

std::string ReadProfileString(const std::string& fileName, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t capacity) {
  // The profile reader takes zero-terminated names and a DWORD-sized buffer.
  const std::string sectionName(section), keyName(key), fallback(defaultValue);
  const DWORD size = static_cast<DWORD>(std::clamp<std::size_t>(capacity, 1, ULONG_MAX));
  std::vector<char> buffer(size, '\0');
  const DWORD count = GetPrivateProfileStringA(sectionName.c_str(), keyName.c_str(),
                                               fallback.c_str(), buffer.data(), size,
                                               Utf8ToGbk(fileName).c_str());
  return std::string(buffer.data(), std::min<DWORD>(count, size - 1));
}

bool WriteProfileString(const std::string& fileName, std::string_view section,
                        std::string_view key, std::string_view value) {
  // What one line cannot hold would break the file: it is not written.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
      section.find(']') != section.npos || key.find('=') != key.npos)
    return false;
  const std::string sectionName(section), keyName(key), text(value);
  return WritePrivateProfileStringA(sectionName.c_str(), keyName.c_str(), text.c_str(),
                                    Utf8ToGbk(fileName).c_str()) != 0;
}

}  // namespace platform
