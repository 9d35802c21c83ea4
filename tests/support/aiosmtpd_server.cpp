#include "aiosmtpd_server.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace test_support {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 15000;

std::string SupportScript(const char* name) {
  return std::string(MAILSENDER_TESTS_DIR) + "/support/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
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

  std::vector<std::string> argv = {kPython, SupportScript("aiosmtpd_server.py"),
                                   "--folder", folder_, "--user", user,
                                   "--password", password};
  for (const std::string& method : excludedMethods) {
    argv.push_back("--exclude");
    argv.push_back(method);
  }
  const std::string log = folder_ + "/server.log";
  // The server also stops by itself when its input closes, should this
  // process die without stopping it.
  ChildProcess& server = server_.emplace(argv, std::vector<std::string>{},
                                         ChildOptions{true, log});
  if (const auto line = server.ReadLine(kStartTimeoutMs)) port_ = std::atoi(line->c_str());
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
  server_.reset();
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
  const auto text = RunCommand({kPython, SupportScript("decode_mail.py"),
                                folder_ + "/" + std::to_string(number)});
  return text ? ParseRecords(*text) : std::map<std::string, std::string>{};
}

}  // namespace test_support
