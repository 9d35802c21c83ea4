#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace test_support {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::vector<std::string> ChildEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) variables.emplace_back(*variable);
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(variables, [&](const std::string& v) { return v.compare(0, name.size() + 1, name + "=") == 0; });
    if (change.find('=') != std::string::npos) variables.push_back(change);
  }
  return variables;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           const ChildOptions& options) {
  int input[2] = {-1, -1};
  int output[2];
  if (argv.empty() || (options.inputPipe && pipe2(input, O_CLOEXEC) != 0)) return;
  if (pipe2(output, O_CLOEXEC) != 0) {
    if (options.inputPipe) {
      close(input[0]);
      close(input[1]);
    }
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.inputPipe)
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  if (!options.errorLog.empty())
    posix_spawn_file_actions_addopen(&actions, 2, options.errorLog.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = ChildEnvironment(environment);
  const std::vector<char*> argp = Pointers(arguments);
  const std::vector<char*> envp = Pointers(variables);
  if (posix_spawn(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  output_ = output[0];
  if (options.inputPipe) {
    close(input[0]);
    input_ = input[1];
  }
}

ChildProcess::~ChildProcess() {
  if (input_ >= 0) close(input_);
  if (pid_ > 0 && !Wait(0)) {
    kill(pid_, SIGTERM);
    if (!Wait(2000)) {
      kill(pid_, SIGKILL);
      Wait(10000);
    }
  }
  if (output_ >= 0) close(output_);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
  if (exitCode_ || pid_ <= 0) return exitCode_;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return exitCode_;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (const auto end = pending_.find('\n'); end != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      return line;
    }
    pollfd readable{output_, POLLIN, 0};
    const int ready = poll(&readable, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char chunk[4096];
    const ssize_t count = read(output_, chunk, sizeof chunk);
    if (count <= 0) return std::nullopt;
    pending_.append(chunk, static_cast<std::size_t>(count));
  }
}

std::string ChildProcess::ReadRest(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string rest = std::move(pending_);
  pending_.clear();
  for (;;) {
    pollfd readable{output_, POLLIN, 0};
    const int ready = poll(&readable, 1, MillisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return rest;
    char chunk[4096];
    const ssize_t count = read(output_, chunk, sizeof chunk);
    if (count <= 0) return rest;
    rest.append(chunk, static_cast<std::size_t>(count));
  }
}

std::optional<std::string> RunCommand(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment, int timeoutMs) {
  ChildProcess command(argv, environment);
  if (!command.Started()) return std::nullopt;
  std::string output = command.ReadRest(timeoutMs);
  if (command.Wait(timeoutMs) != 0) return std::nullopt;
  return output;
}

}  // namespace test_support
