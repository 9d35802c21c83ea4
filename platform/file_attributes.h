#pragma once
#include <string>

namespace platform {

inline constexpr unsigned kAttributeReadOnly = 0x01;
inline constexpr unsigned kAttributeHidden = 0x02;
inline constexpr unsigned kAttributeSystem = 0x04;
inline constexpr unsigned kAttributeArchive = 0x20;

// Makes attributes (masked to the four above) the file's whole attribute set.
// On POSIX "hidden" means private to its owner: mode 0600 (0400 when also
// read-only). False when the file's attributes could not be changed.
bool SetFileAttributes(const std::string& fileName, unsigned attributes);

}  // namespace platform
