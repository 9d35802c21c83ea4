#pragma once
#include <string>
#include <string_view>

// One key of an INI ("profile") file, read and written with the meanings of
// the Windows profile functions: [section] and key=value lines, names matched
// without regard to ASCII case, the first match winning.
namespace platform {

// The value of key in section, blanks around it trimmed and one pair of
// matching double quotes removed, cut to capacity - 1 bytes; defaultValue when
// the file, section or key is missing.
std::string ReadProfileString(const std::string& fileName, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t capacity);

// Sets key in section to value, adding the section or key when missing and
// keeping every other byte of the file. The file is replaced as a whole or not
// at all, and never readable by others (mode 0600). False when it could not
// be written: a read-only file, something other than a file at the name, or
// a name or value that one line cannot hold (a line break, "]" in the section
// name, "=" in the key name) is not written.
bool WriteProfileString(const std::string& fileName, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace platform
