#include "profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

// The file's lines are GBK, the program's code page. Where a byte could be the
// second byte of a double-byte character (0x40 to 0xFE), it is never taken for
// the ASCII character of the same value: "]" does not end a section name in
// its middle and case folding never changes half a character.
//
// Writing never changes the file in place: the new content goes to a fresh
// file in the same folder (mode 0600 from its creation on), is flushed, and
// is renamed over the old name. A symbolic link at the name is replaced by a
// regular file holding the content read through it; the link's target is
// never written. Hard links to the old file keep the old content.
namespace platform {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kLineBreak = "\r\n";

std::string_view Trim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// 2 when text[i] begins a GBK double-byte character, else 1.
std::size_t CharLength(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x81 || lead > 0xFE || i + 1 >= text.size()) return 1;
  const auto trail = static_cast<unsigned char>(text[i + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (CharLength(a, i) == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

std::size_t FindSingleByte(std::string_view text, char c) {
  for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
    if (text[i] == c) return i;
  }
  return std::string_view::npos;
}

// One line of the file: offsets into it, and what the line is.
struct Line {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::size_t contentEnd = 0;  // before the CR LF or LF
  std::size_t next = 0;        // the start of the following line
  std::string_view name;       // of the section or key, trimmed
  std::size_t valueBegin = 0;  // just after "=" of a key line
};

Line ParseLine(std::string_view text, std::size_t begin) {
  Line line;
  const std::size_t lf = text.find('\n', begin);
  line.next = lf == std::string_view::npos ? text.size() : lf + 1;
  line.contentEnd = lf == std::string_view::npos ? text.size() : lf;
  if (line.contentEnd > begin && text[line.contentEnd - 1] == '\r') --line.contentEnd;
  const std::string_view content = text.substr(begin, line.contentEnd - begin);
  const std::string_view trimmed = Trim(content);
  if (trimmed.empty() || trimmed.front() == ';') return line;
  if (trimmed.front() == '[') {
    const std::size_t close = FindSingleByte(trimmed, ']');
    if (close != std::string_view::npos) {
      line.kind = Line::kSection;
      line.name = Trim(trimmed.substr(1, close - 1));
    }
    return line;
  }
  const std::size_t equals = content.find('=');
  if (equals != std::string_view::npos) {
    line.kind = Line::kKey;
    line.name = Trim(content.substr(0, equals));
    line.valueBegin = begin + equals + 1;
  }
  return line;
}

// Where key of section is, or where it would go.
struct Location {
  bool sectionFound = false;
  bool keyFound = false;
  std::size_t valueBegin = 0, valueEnd = 0;  // the matched key line's value
  // Just after the last line of the section that is not blank or a comment.
  std::size_t sectionEnd = 0;
  bool sectionEndHasBreak = true;  // false when that line ends the file without one
};

// Only the first section named section counts, and in it the first key.
Location Find(std::string_view text, std::string_view section, std::string_view key) {
  Location where;
  for (std::size_t begin = 0; begin < text.size();) {
    const Line line = ParseLine(text, begin);
    if (line.kind == Line::kSection) {
      if (where.sectionFound) break;
      where.sectionFound = SameName(line.name, section);
    }
    if (where.sectionFound && line.kind != Line::kOther) {
      if (line.kind == Line::kKey && SameName(line.name, key)) {
        where.keyFound = true;
        where.valueBegin = line.valueBegin;
        where.valueEnd = line.contentEnd;
        return where;
      }
      where.sectionEnd = line.next;
      // Only an LF ends a line: a file cut between CR and LF has none.
      where.sectionEndHasBreak = text[line.next - 1] == '\n';
    }
    begin = line.next;
  }
  return where;
}

struct FileContent {
  enum Status { kRead, kMissing, kUnreadable } status = kUnreadable;
  std::string bytes;
  mode_t mode = 0;
};

// The whole of a regular file. Opening does not block on a FIFO, and
// anything that is not a regular file counts as unreadable.
FileContent ReadWholeFile(const std::string& fileName) {
  FileContent file;
  const int fd = open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) file.status = FileContent::kMissing;
    return file;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    file.mode = info.st_mode;
    file.bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t used = 0;
    for (;;) {
      if (used == file.bytes.size()) file.bytes.resize(file.bytes.size() * 2);
      const ssize_t got = read(fd, file.bytes.data() + used, file.bytes.size() - used);
      if (got > 0) {
        used += static_cast<std::size_t>(got);
      } else if (got == 0) {
        file.status = FileContent::kRead;
        break;
      } else if (errno != EINTR) {
        break;
      }
    }
    file.bytes.resize(used);
  }
  close(fd);
  return file;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Replaces fileName by a file holding content, or leaves it as it was.
bool ReplaceFile(const std::string& fileName, std::string_view content) {
  const std::size_t slash = fileName.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
  std::string tempName = folder + ".profile-XXXXXX";
  const int fd = mkostemp(tempName.data(), O_CLOEXEC);  // created with mode 0600
  if (fd < 0) return false;
  // Whatever the umask, the owner keeps the right to write the next time.
  bool ok = fchmod(fd, S_IRUSR | S_IWUSR) == 0 && WriteAll(fd, content) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(tempName.c_str(), fileName.c_str()) == 0;
  if (!ok) {
    unlink(tempName.c_str());
    return false;
  }
  // Makes the rename itself durable; the new file is in place either way.
  if (const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

// True when "]" after name is the first single "]" of the line, as the reader
// finds it: name holds none, and its last byte is no lead byte that would take
// the "]" for the second half of a character.
bool ClosesSectionLine(std::string_view name) {
  return FindSingleByte(std::string(name).append("]"), ']') == name.size();
}

bool HasLineBreak(std::string_view text) { return text.find_first_of(kLineBreak) != std::string_view::npos; }

}  // namespace

std::string ReadProfileString(const std::string& fileName, std::string_view section,
                              std::string_view key, std::string_view defaultValue,
                              std::size_t capacity) {
  const FileContent file = ReadWholeFile(fileName);
  std::string_view value = defaultValue;
  if (file.status == FileContent::kRead) {
    const Location where = Find(file.bytes, Trim(section), Trim(key));
    if (where.keyFound) {
      value = Trim(std::string_view(file.bytes).substr(where.valueBegin, where.valueEnd - where.valueBegin));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
    }
  }
  return std::string(value.substr(0, capacity == 0 ? 0 : capacity - 1));
}

bool WriteProfileString(const std::string& fileName, std::string_view section,
                        std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  // Names and values that one line could not hold so that they read back.
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || !ClosesSectionLine(section) ||
      key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';') {
    return false;
  }
  FileContent file = ReadWholeFile(fileName);
  if (file.status == FileContent::kUnreadable) return false;
  // A read-only file is left alone, as its attribute asks.
  if (file.status == FileContent::kRead && (file.mode & S_IWUSR) == 0) return false;

  const std::string_view old = file.bytes;
  const Location where = Find(old, section, key);
  std::string content;
  content.reserve(old.size() + section.size() + key.size() + value.size() + 8);
  const auto keyLine = [&] { content.append(key).append("=").append(value).append(kLineBreak); };
  if (where.keyFound) {
    content.append(old.substr(0, where.valueBegin)).append(value).append(old.substr(where.valueEnd));
  } else if (where.sectionFound) {
    content.append(old.substr(0, where.sectionEnd));
    if (!where.sectionEndHasBreak) content.append(kLineBreak);
    keyLine();
    content.append(old.substr(where.sectionEnd));
  } else {
    content.append(old);
    if (!old.empty() && old.back() != '\n') content.append(kLineBreak);
    content.append("[").append(section).append("]").append(kLineBreak);
    keyLine();
  }
  return ReplaceFile(fileName, content);
}

}  // namespace platform
