#pragma once
#include <string>

namespace platform {

// The current user's desktop folder as the platform reports it at this moment,
// in the file system's encoding and ending in a path separator; the empty text
// when there is none.
std::string DesktopFolder();

}  // namespace platform
