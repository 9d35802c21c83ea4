#include "file_attributes.h"

#include <windows.h>

#include "text_codec.h"

// windows.h maps the name onto its A/W pair; this file defines the portable one.
#undef SetFileAttributes

namespace platform {

bool SetFileAttributes(const std::string& fileName, unsigned attributes) {
  DWORD wanted = attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem |
                               kAttributeArchive);
  // An empty set has its own name on Windows.
  if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
  // The name arrives in UTF-8 (see desktop_folder.cpp).
  return SetFileAttributesA(Utf8ToGbk(fileName).c_str(), wanted) != 0;
}

}  // namespace platform
