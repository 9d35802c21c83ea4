// The INI reader and writer: after a write that succeeds, reading the key
// gives the value as the profile reader defines it (blanks trimmed, one pair
// of quotes removed, cut to the capacity); every other line of the file is
// unchanged, and the only new lines are the key's line and, when the section
// was missing, its section line. A refused write changes nothing, and only
// what one line cannot hold is refused.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "profile.h"

namespace {

// One file, on a memory file system where there is one: every write flushes.
const std::string& FilePath() {
  static const std::string path = [] {
    std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm/profile-fuzz-XXXXXX"
                                                      : "/tmp/profile-fuzz-XXXXXX";
    FUZZ_CHECK(mkdtemp(folder.data()) != nullptr);
    static const std::string kept = folder;
    std::atexit([] {
      unlink((kept + "/settings.ini").c_str());
      rmdir(kept.c_str());
    });
    return folder + "/settings.ini";
  }();
  return path;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool Has(std::string_view text, std::string_view bytes) {
  return text.find_first_of(bytes) != std::string_view::npos;
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    const std::size_t length = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// old and now differ in at most the key's line, plus the lines a write adds.
void CheckOtherLinesKept(std::string_view old, std::string_view now, std::string_view section,
                         std::string_view key, std::string_view value) {
  std::vector<std::string_view> a = Lines(old);
  std::vector<std::string_view> b = Lines(now);
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
    ++tail;
  const std::vector<std::string_view> was(a.begin() + head, a.end() - tail);
  std::vector<std::string_view> is(b.begin() + head, b.end() - tail);
  const std::string keyLine = std::string(key) + "=" + std::string(value) + "\r\n";
  const std::string sectionLine = "[" + std::string(section) + "]\r\n";
  if (was.size() == 1 && is.size() == 1) {
    // The value of a line that was there: all before it and its end stay.
    const std::size_t equals = was[0].find('=');
    FUZZ_CHECK(equals != std::string_view::npos);
    // Its end: CR LF, LF, or the one CR the reader strips from a last line.
    const std::size_t end = was[0].ends_with("\r\n") ? 2 : was[0].ends_with('\n') || was[0].ends_with('\r');
    FUZZ_CHECK(is[0] == std::string(was[0].substr(0, equals + 1)) + std::string(value) +
                            std::string(was[0].substr(was[0].size() - end)));
    return;
  }
  FUZZ_CHECK(was.size() <= 1);
  if (was.size() == 1) {
    // A last line without a line break got one.
    FUZZ_CHECK(!was[0].ends_with('\n') && !is.empty() && is[0] == std::string(was[0]) + "\r\n");
    is.erase(is.begin());
  }
  const bool keyAdded = is.size() == 1 && is[0] == keyLine;
  const bool sectionAdded = is.size() == 2 && is[0] == sectionLine && is[1] == keyLine;
  FUZZ_CHECK(is.empty() || keyAdded || sectionAdded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(16);
  const std::string key = input.ConsumeRandomLengthString(16);
  const std::string value = input.ConsumeRandomLengthString(32);
  const std::size_t capacity = input.ConsumeIntegralInRange<std::size_t>(0, 40);
  const std::string old = input.ConsumeRemainingBytesAsString();
  {
    std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
    out << old;
  }

  const bool written = platform::WriteProfileString(FilePath(), section, key, value);
  const std::string now = ReadAll(FilePath());
  const std::string_view s = Trim(section);
  const std::string_view k = Trim(key);
  const bool unwritable = s.empty() || k.empty() || Has(s, "\r\n") || Has(k, "\r\n") ||
                          Has(value, "\r\n") || Has(k, "=") || k.front() == '[' || k.front() == ';';
  if (!written) {
    // A "]" in the section name, or one that its last byte would take for the
    // second half of a double-byte character, would not end it where it ends.
    FUZZ_CHECK(unwritable || Has(s, "]") || static_cast<unsigned char>(s.back()) >= 0x81);
    FUZZ_CHECK(now == old);
    return 0;
  }
  FUZZ_CHECK(!unwritable);

  std::string_view expected = Trim(value);
  if (expected.size() >= 2 && expected.front() == '"' && expected.back() == '"') {
    expected = expected.substr(1, expected.size() - 2);
  }
  expected = expected.substr(0, capacity == 0 ? 0 : capacity - 1);
  FUZZ_CHECK(platform::ReadProfileString(FilePath(), section, key, "\x01", capacity) == expected);
  CheckOtherLinesKept(old, now, s, k, value);
  return 0;
}
