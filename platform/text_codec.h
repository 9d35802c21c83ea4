#pragma once
#include <string>
#include <string_view>

// Conversion between the program's GBK texts and UTF-8, used only at the
// edges: the window's toolkit and the file system's names.
namespace platform {

// A byte sequence that is not GBK becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// A character that GBK cannot hold becomes "?", as the Windows ANSI
// conversion does; invalid UTF-8 counts as such a character.
std::string Utf8ToGbk(std::string_view utf8);

}  // namespace platform
