// ReadReply fed arbitrary bytes over a loopback connection, in the chunks the
// input chooses, the server closing after the last one. What the read leaves
// must be what a plain reading of the reply rules gives for the bytes it took:
// it stops at the first received end at which the reply is complete (the line
// that the last CR ends, before any NUL, has a space in its fourth byte or is
// three digits alone), or at the close; the code, the keyword and parameter
// lines, lastErrorText and the result follow from those bytes alone. And a chunking that splits no
// reply where it could already be complete changes no result.
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_check.h"
#include "smtp_session.h"

namespace {

// The session's texts, compiled as the library's are.
constexpr std::string_view kSilence = "接收数据超时!";
constexpr std::string_view kNoReply = "等待SMTP邮件服务器响应失败!";
constexpr std::string_view kRefused = "SMTP邮件服务器返回失败信息!";

struct Outcome {
  bool result = false;
  std::int32_t code = 0;
  std::vector<TextValue> keywords, params;
  TextValue text;
  std::size_t consumed = 0;  // bytes the read took from the connection
  bool operator==(const Outcome&) const = default;
};

// --- the rules, read plainly ---

std::string_view BeforeNul(std::string_view bytes) { return bytes.substr(0, bytes.find('\0')); }

// Start of the line that the last CR ends, if the reply is complete there.
std::optional<std::size_t> CompleteLineStart(std::string_view bytes) {
  const std::string_view text = BeforeNul(bytes);
  const std::size_t cr = text.rfind('\r');
  if (cr == std::string_view::npos) return std::nullopt;
  std::size_t start = cr;
  while (start > 0 && text[start - 1] != '\n') --start;
  if (start + 3 < text.size() && text[start + 3] == ' ') return start;
  const auto digit = [&](std::size_t at) { return text[at] >= '0' && text[at] <= '9'; };
  if (cr == start + 3 && digit(start) && digit(start + 1) && digit(start + 2)) return start;
  return std::nullopt;
}

bool IsLow(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view Strip(std::string_view s, bool front, bool back) {
  while (front && !s.empty() && IsLow(s.front())) s.remove_prefix(1);
  while (back && !s.empty() && IsLow(s.back())) s.remove_suffix(1);
  return s;
}

Outcome Expected(std::string_view taken, bool complete, int expectedCode) {
  Outcome out;
  out.consumed = taken.size();
  out.code = -1;
  const std::string_view text = BeforeNul(taken);
  if (complete) {
    const std::size_t start = *CompleteLineStart(taken);
    // atoi over the three code bytes.
    std::string_view code = text.substr(start, 3);
    while (!code.empty() && (code.front() == ' ' || (code.front() >= '\t' && code.front() <= '\r')))
      code.remove_prefix(1);
    bool negative = false;
    if (!code.empty() && (code.front() == '+' || code.front() == '-')) {
      negative = code.front() == '-';
      code.remove_prefix(1);
    }
    std::int32_t value = 0;
    while (!code.empty() && code.front() >= '0' && code.front() <= '9') {
      value = value * 10 + (code.front() - '0');
      code.remove_prefix(1);
    }
    out.code = negative ? -value : value;
    // Every line a CR ends; lines of four bytes or less add nothing.
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '\r') continue;
      const std::string_view line = text.substr(lineStart, i - lineStart);
      lineStart = i + 1 < text.size() && text[i + 1] == '\n' ? i + 2 : i + 1;
      if (line.size() <= 4) continue;
      const std::string_view rest = Strip(line.substr(4), true, true);
      if (rest.empty()) continue;
      const std::size_t space = rest.find(' ');
      out.keywords.emplace_back(Strip(rest.substr(0, space), false, true));
      out.params.emplace_back(space == std::string_view::npos ? std::string_view()
                                                               : Strip(rest.substr(space + 1), true, false));
    }
  }
  if (!out.keywords.empty()) {
    out.text = out.keywords.back();
    if (!out.params.back().empty()) out.text += " " + out.params.back();
  } else if (!taken.empty()) {
    out.text = text;
  } else {
    out.text = kSilence;  // closed with nothing sent: the silence it would become
  }
  out.result = complete && out.code == expectedCode;
  if (!out.result && out.text.empty()) out.text = out.code == -1 ? kNoReply : kRefused;
  return out;
}

// --- the loopback feed ---

class Listener {
 public:
  Listener() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    FUZZ_CHECK(bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0);
    FUZZ_CHECK(listen(fd_, 4) == 0);
    FUZZ_CHECK(getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    port_ = ntohs(address.sin_port);
  }
  int Fd() const { return fd_; }
  int Port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

std::uint16_t LocalPort(int fd, bool peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  const int ok = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                      : getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  return ok == 0 && address.sin_family == AF_INET ? ntohs(address.sin_port) : 0;
}

// The channel's own descriptor: the one whose local port is the peer port of
// the accepted connection. Only its receive queue tells when a chunk is taken.
int ClientFd(int server) {
  const std::uint16_t port = LocalPort(server, true);
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != server && LocalPort(fd, false) == port && LocalPort(fd, true) != 0) return fd;
  }
  return -1;
}

// Bytes waiting in a socket's receive queue, or (outgoing) not yet taken
// into the peer's.
int Queued(int fd, bool outgoing = false) {
  int bytes = 0;
  FUZZ_CHECK(ioctl(fd, outgoing ? TIOCOUTQ : FIONREAD, &bytes) == 0);
  return bytes;
}

// One ReadReply over a fresh connection that sends bytes cut at cuts.
Outcome Feed(std::string_view bytes, const std::vector<std::size_t>& cuts, int expectedCode) {
  static const Listener listener;
  smtp::SmtpSession session;
  session.timeoutMs = 10000;  // the feed never pauses; only a fault would wait
  FUZZ_CHECK(session.channel.OpenSocket());
  FUZZ_CHECK(session.channel.ConnectSocket("127.0.0.1", listener.Port()));
  const int server = accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
  FUZZ_CHECK(server >= 0);
  const int client = ClientFd(server);
  FUZZ_CHECK(client >= 0);

  std::atomic<bool> done = false;
  std::size_t written = 0;
  std::thread writer([&] {
    std::size_t from = 0;
    for (std::size_t i = 0; i <= cuts.size() && !done; ++i) {
      const std::size_t to = i < cuts.size() ? cuts[i] : bytes.size();
      // The next chunk goes out only once the reader has taken the last.
      while (!done && Queued(client) > 0) std::this_thread::yield();
      if (done) break;
      FUZZ_CHECK(send(server, bytes.data() + from, to - from, MSG_NOSIGNAL) ==
                 static_cast<ssize_t>(to - from));
      written = to;
      from = to;
      // Arrived at the reader, so that it sees this chunk end on its own.
      while (!done && Queued(server, true) > 0) std::this_thread::yield();
    }
    if (!done) shutdown(server, SHUT_WR);
  });
  Outcome out;
  out.result = session.ReadReply(expectedCode);
  done = true;
  writer.join();
  out.code = session.lastReplyCode;
  out.keywords = session.replyKeywords;
  out.params = session.replyParams;
  out.text = session.lastErrorText;
  out.consumed = written - static_cast<std::size_t>(Queued(client));
  // A reset leaves no connection waiting out its time on either side.
  const linger abort{1, 0};
  setsockopt(server, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close(server);
  return out;
}

void CheckFeed(std::string_view bytes, const std::vector<std::size_t>& cuts, int expectedCode,
               const Outcome& got) {
  FUZZ_CHECK(got.consumed <= bytes.size());
  const std::string_view taken = bytes.substr(0, got.consumed);
  const bool complete = CompleteLineStart(taken).has_value();
  // It stops only where the reply is complete, or when nothing more can come.
  FUZZ_CHECK(complete || got.consumed == bytes.size());
  // It stops at the first chunk end where the reply is complete.
  for (const std::size_t cut : cuts) {
    if (cut < got.consumed) FUZZ_CHECK(!CompleteLineStart(bytes.substr(0, cut)).has_value());
  }
  FUZZ_CHECK(got == Expected(taken, complete, expectedCode));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  constexpr int kCodes[] = {0, 220, 250, 334, 354, 221, 235, 554};
  const int expectedCode = kCodes[data[0] % 8];
  const std::string_view bytes = fuzz::AsText(data + 2, size - 2);
  // Up to seven cuts at positions drawn from the second byte.
  std::vector<std::size_t> cuts;
  std::uint32_t state = data[1] * 2654435761u + 1;
  for (int i = 0; i < data[1] % 8 && !bytes.empty(); ++i) {
    state = state * 1103515245u + 12345u;
    cuts.push_back(1 + (state >> 8) % bytes.size());
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  if (!cuts.empty() && cuts.back() == bytes.size()) cuts.pop_back();

  const Outcome whole = Feed(bytes, {}, expectedCode);
  CheckFeed(bytes, {}, expectedCode, whole);
  const Outcome chunked = Feed(bytes, cuts, expectedCode);
  CheckFeed(bytes, cuts, expectedCode, chunked);
  // One receive takes a whole reply of this size: when no cut falls where
  // the reply is already complete, the cuts change nothing.
  bool meaningfulCut = false;
  for (const std::size_t cut : cuts) {
    meaningfulCut |= cut < whole.consumed && CompleteLineStart(bytes.substr(0, cut)).has_value();
  }
  if (bytes.size() <= 1024 && !meaningfulCut) FUZZ_CHECK(chunked == whole);
  return 0;
}
