#pragma once
#include <string>

// A text of the program: bytes in the system code page, GBK. A missing text
// and the empty text are the same value; lengths are counted in bytes.
using TextValue = std::string;
