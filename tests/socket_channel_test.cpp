#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "scripted_server.h"
#include "socket_channel.h"
#include "tcp_socket.h"

using smtp::SocketChannel;
using test_support::Script;
using test_support::ScriptedServer;

namespace {

// Name look-ups and connects of this thread, seen through the wrappers below.
thread_local int lookups = 0;
thread_local int connects = 0;

template <typename Function>
Function* Real(const char* name) {
  return reinterpret_cast<Function*>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// Names under .invalid never resolve; they are answered here, so that no test
// depends on a name server.
extern "C" int getaddrinfo(const char* name, const char* service, const addrinfo* hints,
                           addrinfo** found) {
  ++lookups;
  if (name != nullptr && std::string_view(name).ends_with(".invalid")) return EAI_NONAME;
  static auto* const real = Real<int(const char*, const char*, const addrinfo*, addrinfo**)>("getaddrinfo");
  return real(name, service, hints, found);
}

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
  ++connects;
  static auto* const real = Real<int(int, const sockaddr*, socklen_t)>("connect");
  return real(fd, address, length);
}

namespace {

TEST(SocketChannel, ConnectsToDottedAddressesWithoutLookUpAndToNames) {
  struct {
    const char* host;
    int portOffset;  // only the low 16 bits of the port count
    int lookups;
  } const cases[] = {{"127.0.0.1", 0, 0}, {"127.1", 0, 0}, {"127.0.0.1", 65536, 0}, {"localhost", 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    ScriptedServer server;
    SocketChannel channel;
    ASSERT_TRUE(channel.OpenSocket());
    lookups = 0;
    EXPECT_TRUE(channel.ConnectSocket(c.host, server.Port() + c.portOffset));
    EXPECT_EQ(lookups, c.lookups);
    channel.CloseSocket();
    EXPECT_EQ(server.Connections(), 1u);
  }
}

TEST(SocketChannel, UnresolvableNameIsNotConnected) {
  SocketChannel channel;
  ASSERT_TRUE(channel.OpenSocket());
  connects = lookups = 0;
  EXPECT_FALSE(channel.ConnectSocket("nowhere.invalid", 25));
  EXPECT_EQ(lookups, 1);
  EXPECT_EQ(connects, 0);
  EXPECT_TRUE(channel.IsOpen());  // the caller closes it
}

TEST(SocketChannel, RefusedConnectionFails) {
  // A port that is bound but not listening refuses connections.
  const int bound = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length), 0);

  SocketChannel channel;
  ASSERT_TRUE(channel.OpenSocket());
  EXPECT_FALSE(channel.ConnectSocket("127.0.0.1", ntohs(address.sin_port)));
  close(bound);
}

TEST(SocketChannel, ConnectGivesUpInTime) {
  test_support::StalledListener listener;
  const platform::SocketHandle socket = platform::SocketCreate();
  ASSERT_NE(socket, platform::kInvalidSocket);
  EXPECT_FALSE(platform::SocketConnect(socket, "127.0.0.1", listener.Port(), 200));
  platform::SocketClose(socket);
}

TEST(SocketChannel, OpenSocketClosesThePreviousOne) {
  ScriptedServer server;
  SocketChannel channel;
  ASSERT_TRUE(channel.OpenSocket());
  ASSERT_TRUE(channel.ConnectSocket("127.0.0.1", server.Port()));
  ASSERT_TRUE(channel.OpenSocket());
  EXPECT_TRUE(server.Ended(0));
  EXPECT_TRUE(channel.IsOpen());
}

TEST(SocketChannel, NothingWorksWithoutASocket) {
  SocketChannel channel;
  bool readable = true;
  char byte;
  EXPECT_FALSE(channel.ConnectSocket("127.0.0.1", 25));
  EXPECT_FALSE(channel.SendBytes("QUIT\r\n"));
  EXPECT_EQ(channel.ReceiveBytes(&byte, 1), -1);
  EXPECT_FALSE(channel.PollReadable(readable));
  EXPECT_FALSE(channel.WaitReadable(10, readable));
}

void Interrupted(int) {}

TEST(SocketChannel, LargeRunReachesASlowReaderWholeDespiteSignals) {
  // Signals without SA_RESTART cut the blocked send short or fail it with EINTR.
  struct sigaction interrupt {};
  struct sigaction previous {};
  interrupt.sa_handler = Interrupted;
  sigemptyset(&interrupt.sa_mask);
  ASSERT_EQ(sigaction(SIGUSR1, &interrupt, &previous), 0);

  std::string run(16 << 20, '\0');
  for (std::size_t i = 0; i < run.size(); ++i) run[i] = static_cast<char>('a' + i % 23);
  ScriptedServer server(Script().Pause(200));
  SocketChannel channel;
  ASSERT_TRUE(channel.OpenSocket());
  ASSERT_TRUE(channel.ConnectSocket("127.0.0.1", server.Port()));

  std::atomic<bool> sending = true;
  const pthread_t sender = pthread_self();
  std::thread interrupter([&] {
    while (sending) {
      pthread_kill(sender, SIGUSR1);
      usleep(1000);
    }
  });
  const bool sent = channel.SendBytes(run);
  sending = false;
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_TRUE(sent);
  channel.CloseSocket();
  EXPECT_TRUE(server.Received() == run);
}

TEST(SocketChannel, SendToAGonePeerFailsWithoutSignal) {
  for (const Script& gone : {Script().Pause(50).Close(), Script().Pause(50).Reset()}) {
    ScriptedServer server(gone);
    SocketChannel channel;
    ASSERT_TRUE(channel.OpenSocket());
    ASSERT_TRUE(channel.ConnectSocket("127.0.0.1", server.Port()));
    ASSERT_TRUE(server.Ended(0));
    // The first sends after the peer went may still be taken; once one fails,
    // every later one fails too (EPIPE, which would raise SIGPIPE).
    bool sent = true;
    for (int i = 0; i < 50 && sent; ++i) {
      sent = channel.SendBytes("NOOP\r\n");
      bool readable = false;
      channel.WaitReadable(10, readable);
    }
    EXPECT_FALSE(sent);
    EXPECT_FALSE(channel.SendBytes("NOOP\r\n"));
  }
}

TEST(TcpSocket, NoDelayAndTheSystemSendBuffer) {
  const auto option = [](int fd, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(fd, level, name, &value, &length);
    return value;
  };
  const platform::SocketHandle created = platform::SocketCreate();
  ASSERT_NE(created, platform::kInvalidSocket);
  const int fd = static_cast<int>(created);
  const int plain = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_NODELAY), 1);
  EXPECT_EQ(option(fd, SOL_SOCKET, SO_SNDBUF), option(plain, SOL_SOCKET, SO_SNDBUF));
  close(plain);
  platform::SocketClose(created);
}

TEST(TcpSocket, LocalHostNameIsTheNodeName) {
  utsname node{};
  ASSERT_EQ(uname(&node), 0);
  EXPECT_EQ(platform::LocalHostName(), node.nodename);
}

}  // namespace
