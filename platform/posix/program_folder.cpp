#include "program_folder.h"

#include <unistd.h>

#include <string>

namespace platform {

bool EnterProgramFolder() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return false;
  path.resize(static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  path.resize(slash == 0 ? 1 : slash);
  return chdir(path.c_str()) == 0;
}

}  // namespace platform
