#include "aiosmtpd_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace test_support {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 15000;
constexpr auto kStopTimeout = std::chrono::seconds(2);

std::string SupportScript(const char* name) {
  return std::string(MAILSENDER_TESTS_DIR) + "/support/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Starts argv with stdinFd and stdoutFd as its standard input and output
// (-1: /dev/null and inherited) and its standard error appended to
// stderrPath; -1 on failure.
pid_t Spawn(const std::vector<std::string>& argv, int stdinFd, int stdoutFd,
            const std::string& stderrPath) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdinFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// Reads from fd until a LF or the end; false when nothing whole came in time.
bool ReadLine(int fd, int timeoutMs, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd waiting{fd, POLLIN, 0};
    const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char c;
    const ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    if (c == '\n') return true;
    line += c;
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

// Records "NAME LENGTH\n" + LENGTH bytes + "\n", as decode_mail.py writes them.
std::map<std::string, std::string> ParseRecords(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    const std::size_t space = text.rfind(' ', end);
    if (end == std::string::npos || space == std::string::npos || space < at) return {};
    const std::size_t length = std::stoul(text.substr(space + 1, end - space - 1));
    if (end + 1 + length + 1 > text.size()) return {};
    fields[text.substr(at, space - at)] = text.substr(end + 1, length);
    at = end + 1 + length + 1;
  }
  return fields;
}

}  // namespace

AiosmtpdServer::AiosmtpdServer(const std::string& user, const std::string& password,
                               const std::vector<std::string>& excludedMethods) {
  std::string pattern = (std::filesystem::temp_directory_path() / "aiosmtpd-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error_ = "mkdtemp failed";
    return;
  }
  folder_ = pattern;

  int input[2];
  int output[2];
  if (pipe2(input, O_CLOEXEC) != 0) {
    error_ = "pipe failed";
    return;
  }
  if (pipe2(output, O_CLOEXEC) != 0) {
    close(input[0]);
    close(input[1]);
    error_ = "pipe failed";
    return;
  }
  std::vector<std::string> argv = {kPython, SupportScript("aiosmtpd_server.py"),
                                   "--folder", folder_, "--user", user,
                                   "--password", password};
  for (const std::string& method : excludedMethods) {
    argv.push_back("--exclude");
    argv.push_back(method);
  }
  const std::string log = folder_ + "/server.log";
  pid_ = Spawn(argv, input[0], output[1], log);
  close(input[0]);
  close(output[1]);
  inputFd_ = input[1];

  std::string line;
  if (pid_ > 0 && ReadLine(output[0], kStartTimeoutMs, line)) port_ = std::atoi(line.c_str());
  close(output[0]);
  if (port_ <= 0) {
    error_ = "aiosmtpd did not start: " + ReadFile(log);
    Stop();
  }
}

AiosmtpdServer::~AiosmtpdServer() {
  Stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void AiosmtpdServer::Stop() {
  port_ = 0;
  if (inputFd_ >= 0) close(inputFd_);
  inputFd_ = -1;
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
  while (waitpid(pid_, nullptr, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
}

int AiosmtpdServer::MessageCount() const {
  int count = 0;
  while (std::filesystem::exists(folder_ + "/" + std::to_string(count + 1) + ".eml")) ++count;
  return count;
}

std::vector<std::string> AiosmtpdServer::LoginMethods() const {
  std::vector<std::string> methods;
  std::istringstream lines(ReadFile(folder_ + "/auth.txt"));
  for (std::string line; std::getline(lines, line);) methods.push_back(line);
  return methods;
}

std::map<std::string, std::string> AiosmtpdServer::DecodeMessage(int number) const {
  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) return {};
  const pid_t pid = Spawn({kPython, SupportScript("decode_mail.py"),
                           folder_ + "/" + std::to_string(number)},
                          -1, output[1], folder_ + "/decode.log");
  close(output[1]);
  const std::string text = pid > 0 ? ReadAll(output[0]) : std::string();
  close(output[0]);
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0)
    return {};
  return ParseRecords(text);
}

}  // namespace test_support
