#include "scripted_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string_view>

namespace test_support {

namespace {

// The longest the server waits for one step of the client, and the longest an
// accessor waits for the server.
constexpr int kStepBoundMs = 5000;
constexpr auto kAccessorBound = std::chrono::seconds(5);

enum class Wait { kReady, kTimedOut, kStopped };

// Waits for events on fd, or for the wake pipe; timeoutMs -1 waits without bound.
Wait WaitFor(int fd, short events, int wakeFd, int timeoutMs) {
  pollfd entries[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
  for (;;) {
    const int result = poll(entries, fd < 0 ? 1 : 2, timeoutMs);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 || entries[0].revents != 0) return Wait::kStopped;
    return result == 0 ? Wait::kTimedOut : Wait::kReady;
  }
}

// A TCP socket on 127.0.0.1 with a port of the system's choosing.
int BoundLoopbackSocket(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return fd;
  }
  port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

Script& Script::Send(std::string bytes) {
  steps_.push_back(Step{Step::Kind::kSend, std::move(bytes), 0});
  return *this;
}
Script& Script::Pause(unsigned ms) {
  steps_.push_back(Step{Step::Kind::kPause, {}, ms});
  return *this;
}
Script& Script::AwaitLine() {
  steps_.push_back(Step{Step::Kind::kAwaitLine, {}, 0});
  return *this;
}
Script& Script::AwaitData() {
  steps_.push_back(Step{Step::Kind::kAwaitData, {}, 0});
  return *this;
}
Script& Script::Close() {
  steps_.push_back(Step{Step::Kind::kClose, {}, 0});
  return *this;
}
Script& Script::Reset() {
  steps_.push_back(Step{Step::Kind::kReset, {}, 0});
  return *this;
}

struct ScriptedServer::Connection {
  int fd = -1;
  Script script;
  std::string received;  // appended by the connection's thread under mutex_
  std::size_t consumed = 0;  // bytes taken by the awaits so far
  std::size_t scanned = 0;   // bytes searched for what is awaited
  bool scriptDone = false;
  bool scriptComplete = false;
  bool ended = false;
  std::thread thread;
};

ScriptedServer::ScriptedServer(Script script) : ScriptedServer(std::vector<Script>{std::move(script)}) {}

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
  listener_ = BoundLoopbackSocket(port_);
  if (pipe2(wake_, O_CLOEXEC) != 0 || port_ == 0 || listen(listener_, 16) != 0 ||
      fcntl(listener_, F_SETFL, O_NONBLOCK) != 0) {
    port_ = 0;  // nothing to connect to: the test's connect fails
    return;
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  if (wake_[1] >= 0) {
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = write(wake_[1], &stop, 1);
  }
  if (acceptor_.joinable()) acceptor_.join();
  for (auto& connection : connections_) connection->thread.join();
  for (const int fd : {listener_, wake_[0], wake_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void ScriptedServer::AcceptLoop() {
  while (WaitFor(listener_, POLLIN, wake_[0], -1) == Wait::kReady) {
    std::lock_guard lock(mutex_);
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    if (connections_.size() < scripts_.size()) connection->script = scripts_[connections_.size()];
    Connection& served = *connection;
    connections_.push_back(std::move(connection));
    served.thread = std::thread([this, &served] { Serve(served); });
    changed_.notify_all();
  }
}

void ScriptedServer::Finish(Connection& connection, bool complete) {
  std::lock_guard lock(mutex_);
  connection.scriptDone = true;
  connection.scriptComplete = complete;
  changed_.notify_all();
}

void ScriptedServer::Serve(Connection& connection) {
  // One receive into the record: true while the client may send more.
  const auto receive = [&] {
    char chunk[65536];
    const ssize_t count = recv(connection.fd, chunk, sizeof chunk, 0);
    if (count > 0) {
      std::lock_guard lock(mutex_);
      connection.received.append(chunk, static_cast<std::size_t>(count));
    }
    return count > 0 || (count < 0 && (errno == EAGAIN || errno == EINTR));
  };
  // Reads until pattern follows what the earlier awaits took. The end of
  // data may begin with the CR LF that ended the previous line.
  const auto await = [&](std::string_view pattern, std::size_t overlap) {
    const std::size_t from = connection.consumed - std::min(connection.consumed, overlap);
    connection.scanned = std::max(connection.scanned, from);
    for (;;) {
      const std::size_t start = std::max(from, connection.scanned - std::min(connection.scanned, pattern.size() - 1));
      const std::size_t found = std::string_view(connection.received).find(pattern, start);
      if (found != std::string_view::npos) {
        connection.consumed = connection.scanned = found + pattern.size();
        return true;
      }
      connection.scanned = connection.received.size();
      if (WaitFor(connection.fd, POLLIN, wake_[0], kStepBoundMs) != Wait::kReady || !receive()) {
        return false;
      }
    }
  };
  const auto send_all = [&](std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = send(connection.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
      } else if (!(sent < 0 && (errno == EAGAIN || errno == EINTR)) ||
                 WaitFor(connection.fd, POLLOUT, wake_[0], kStepBoundMs) != Wait::kReady) {
        return false;
      }
    }
    return true;
  };

  bool ok = true;
  bool open = true;
  for (const Script::Step& step : connection.script.Steps()) {
    using Kind = Script::Step::Kind;
    switch (step.kind) {
      case Kind::kSend:
        ok = send_all(step.bytes);
        break;
      case Kind::kPause:
        ok = WaitFor(-1, 0, wake_[0], static_cast<int>(step.ms)) == Wait::kTimedOut;
        break;
      case Kind::kAwaitLine:
        ok = await("\r\n", 0);
        break;
      case Kind::kAwaitData:
        ok = await("\r\n.\r\n", 2);
        break;
      case Kind::kReset: {
        const linger abort{1, 0};
        setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        [[fallthrough]];
      }
      case Kind::kClose:
        open = false;
        break;
    }
    if (!ok || !open) break;
  }
  Finish(connection, ok);

  // Record until the client closes, unless the script closed already.
  while (ok && open && WaitFor(connection.fd, POLLIN, wake_[0], -1) == Wait::kReady && receive()) {
  }
  close(connection.fd);
  std::lock_guard lock(mutex_);
  connection.ended = true;
  changed_.notify_all();
}

std::string ScriptedServer::Received(std::size_t connection) {
  Ended(connection);
  std::lock_guard lock(mutex_);
  return connection < connections_.size() ? connections_[connection]->received : std::string();
}

bool ScriptedServer::Ended(std::size_t connection) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kAccessorBound, [&] {
    return connection < connections_.size() && connections_[connection]->ended;
  });
}

std::size_t ScriptedServer::Connections() {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kAccessorBound, [&] {
    // The acceptor takes the lock to accept: nothing pending means every
    // connection made so far is counted.
    pollfd pending{listener_, POLLIN, 0};
    if (poll(&pending, 1, 0) != 0) return false;
    for (const auto& connection : connections_) {
      if (!connection->ended) return false;
    }
    return true;
  });
  return connections_.size();
}

bool ScriptedServer::ScriptFinished() {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, kAccessorBound, [&] {
    if (connections_.size() < scripts_.size()) return false;
    for (std::size_t i = 0; i < scripts_.size(); ++i) {
      if (!connections_[i]->scriptDone) return false;
    }
    return true;
  });
  if (connections_.size() < scripts_.size()) return false;
  for (std::size_t i = 0; i < scripts_.size(); ++i) {
    if (!connections_[i]->scriptComplete) return false;
  }
  return true;
}

StalledListener::StalledListener() {
  listener_ = BoundLoopbackSocket(port_);
  // With a backlog of 0 the queue holds one connection: once the filler is
  // in, the kernel drops every further SYN.
  if (listener_ < 0 || port_ == 0 || listen(listener_, 0) != 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (filler_ >= 0) connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
}

StalledListener::~StalledListener() {
  if (filler_ >= 0) close(filler_);
  if (listener_ >= 0) close(listener_);
}

}  // namespace test_support
