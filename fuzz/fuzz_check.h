#pragma once
#include <cstdio>
#include <cstdlib>
#include <string_view>

// A broken property ends the run with a message and a crash that libFuzzer
// records, together with the input, as an artifact.
#define FUZZ_CHECK(condition)                                                          \
  do {                                                                                 \
    if (!(condition)) {                                                                \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__,        \
                   #condition);                                                        \
      std::abort();                                                                    \
    }                                                                                  \
  } while (false)

namespace fuzz {

inline std::string_view AsText(const unsigned char* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace fuzz
