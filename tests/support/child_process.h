#pragma once
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace test_support {

// A program a test starts and always stops: the destructor ends it (SIGTERM,
// then SIGKILL after a bounded wait) unless it has ended already.
struct ChildOptions {
  // The child's standard input is a pipe held open while its ChildProcess
  // lives, for a child that ends when its input closes; else /dev/null.
  bool inputPipe = false;
  // Standard error is appended to this file; inherited when empty.
  std::string errorLog;
};

class ChildProcess {
 public:
  // argv[0] is the program's path. environment changes this process's
  // environment for the child: "NAME=value" sets a variable, "NAME" alone
  // removes it. Standard output is read through ReadLine and ReadRest.
  ChildProcess(const std::vector<std::string>& argv,
               const std::vector<std::string>& environment = {},
               const ChildOptions& options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // The exit code once the child has ended within timeoutMs (128 + the signal
  // when a signal ended it); nullopt while it still runs.
  std::optional<int> Wait(int timeoutMs);
  // Reads standard output until a line is complete or timeoutMs has passed;
  // the line without its LF, or nullopt.
  std::optional<std::string> ReadLine(int timeoutMs);
  // Everything left on standard output until the child closes it (bounded).
  std::string ReadRest(int timeoutMs);

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string pending_;
  std::optional<int> exitCode_;
};

// Runs a command to its end (at most timeoutMs, else it is stopped) and gives
// its standard output; nullopt when it failed or did not end in time.
std::optional<std::string> RunCommand(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment = {},
                                      int timeoutMs = 10000);

}  // namespace test_support
