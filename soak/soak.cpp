// Sends many mails over one SMTP session to a sink on 127.0.0.1 and prints
// the process's memory as it goes: resident size (VmRSS), peak (ru_maxrss)
// and the bytes the allocator has handed out. The sink runs in a child
// process, so only the client's own memory is measured.
//
//   mailsender_soak [sends]    (5000 when not given)
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include "smtp_session.h"

namespace {

// Answers every command of a sound dialogue until QUIT or the client goes.
void RunSink(int listener) {
  const int fd = accept(listener, nullptr, nullptr);
  if (fd < 0) _exit(1);
  const auto reply = [fd](std::string_view text) {
    while (!text.empty()) {
      const ssize_t sent = send(fd, text.data(), text.size(), MSG_NOSIGNAL);
      if (sent <= 0) _exit(0);
      text.remove_prefix(static_cast<std::size_t>(sent));
    }
  };
  reply("220 soak sink\r\n");
  std::string buffer;
  bool inData = false;
  char chunk[65536];
  for (;;) {
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) _exit(0);
    buffer.append(chunk, static_cast<std::size_t>(got));
    for (;;) {
      if (inData) {
        const std::size_t end = buffer.find("\r\n.\r\n");
        if (end == std::string::npos) {
          // Keep only what could begin the end-of-data line.
          if (buffer.size() > 4) buffer.erase(0, buffer.size() - 4);
          break;
        }
        buffer.erase(0, end + 5);
        inData = false;
        reply("250 queued\r\n");
        continue;
      }
      const std::size_t end = buffer.find("\r\n");
      if (end == std::string::npos) break;
      const std::string line = buffer.substr(0, end);
      buffer.erase(0, end + 2);
      if (line.starts_with("DATA")) {
        inData = true;
        reply("354 go ahead\r\n");
      } else if (line.starts_with("QUIT")) {
        reply("221 bye\r\n");
        _exit(0);
      } else {
        reply("250 ok\r\n");
      }
    }
  }
}

// <chrono> cannot be compiled with GBK literals, so the POSIX clock serves.
double Seconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(field)) return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  }
  return -1;
}

void Report(int sends) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const struct mallinfo2 heap = mallinfo2();
  std::printf("%6d sends: VmRSS %6ld kB, ru_maxrss %6ld kB, heap in use %8zu bytes\n", sends,
              StatusKb("VmRSS:"), usage.ru_maxrss, heap.uordblks);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int sends = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::perror("listen");
    return 1;
  }
  const pid_t sink = fork();
  if (sink == 0) RunSink(listener);
  close(listener);

  smtp::SmtpSession session;
  if (!session.Connect("127.0.0.1", ntohs(address.sin_port), "soak", "secret", 2000)) {
    std::fprintf(stderr, "connect failed\n");
    return 1;
  }
  // A message like a user's: a Chinese subject and names, a body of some
  // kilobytes, three recipients.
  std::string body;
  while (body.size() < 4096) body += "这是一封测试邮件的正文，soak run line.\r\n";
  const std::string to = "张三 <a@soak.test>, b@soak.test; 李四 <c@soak.test>";
  const double start = Seconds();
  int failures = 0;
  for (int i = 1; i <= sends; ++i) {
    const TextValue result = session.SendMail("测试主题 " + std::to_string(i), body, to, {}, {},
                                              "发信人 <me@soak.test>", std::nullopt);
    failures += !result.empty();
    if (i == 1 || i == 100 || i % 1000 == 0 || i == sends) Report(i);
  }
  const double seconds = Seconds() - start;
  session.Disconnect();
  waitpid(sink, nullptr, 0);
  std::printf("%d sends in %.1f s, %d failed\n", sends, seconds, failures);
  return failures == 0 ? 0 : 1;
}
