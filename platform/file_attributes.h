#pragma once
#include <string>

namespace platform {

inline constexpr unsigned kAttributeReadOnly = 0x01;
inline constexpr unsigned kAttributeHidden = 0x02;
inline constexpr unsigned kAttributeSystem = 0x04;
inline constexpr unsigned kAttributeArchive = 0x20;

// Makes attributes (masked to the four above) the file's whole attribute set.
// On POSIX the attributes become the file's permission bits: "hidden" means
// private to its owner, mode exactly 0600, and without it the file is 0644;
// "read-only" then takes away every write bit (0400 or 0444). System and
// archive have no counterpart there and change nothing. Only a regular file
// is changed, a symbolic link never followed. False when the file's attributes
// could not be changed.
bool SetFileAttributes(const std::string& fileName, unsigned attributes);

}  // namespace platform
