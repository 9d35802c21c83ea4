#include "file_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

bool SetFileAttributes(const std::string& fileName, unsigned attributes) {
  attributes &= kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;
  mode_t mode = (attributes & kAttributeHidden) != 0 ? 0600 : 0644;
  if ((attributes & kAttributeReadOnly) != 0) mode &= ~static_cast<mode_t>(0222);
  // Only a regular file's own mode changes: a symbolic link is not followed
  // (its target may be anything), and a folder would lose its search right.
  struct stat info {};
  if (lstat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  return fchmodat(AT_FDCWD, fileName.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace platform
