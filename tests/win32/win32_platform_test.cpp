// The Windows services that the POSIX-only channel tests cover on Linux:
// Windows Sockets, the local time's zone bias and the program's folder.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "local_time.h"
#include "program_folder.h"
#include "tcp_socket.h"

namespace {

const bool socketsStarted = platform::StartSocketService();

// A TCP socket bound to 127.0.0.1 at a port of the system's choosing.
class Listener {
 public:
  explicit Listener(bool listening = true, int backlog = 4) {
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (listening) listen(socket_, backlog);
  }
  ~Listener() { closesocket(socket_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return port_; }
  // The next connection, waiting at most 5 s; INVALID_SOCKET when none came.
  SOCKET Accept() const {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_, &ready);
    timeval limit{5, 0};
    if (select(0, &ready, nullptr, nullptr, &limit) != 1) return INVALID_SOCKET;
    return accept(socket_, nullptr, nullptr);
  }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int port_ = 0;
};

// An option's value, -1 when it cannot be read. (Wine gives TCP_NODELAY back
// in one byte, so the value starts as 0.)
int Option(platform::SocketHandle socket, int level, int name) {
  int value = 0;
  int length = sizeof value;
  return getsockopt(static_cast<SOCKET>(socket), level, name, reinterpret_cast<char*>(&value),
                    &length) == 0
             ? value
             : -1;
}

TEST(TcpSocket, WindowsSocketsOneOneWithoutSendBufferAndWithNoDelay) {
  ASSERT_TRUE(socketsStarted);
  const platform::SocketHandle socket = platform::SocketCreate();
  ASSERT_NE(socket, platform::kInvalidSocket);
  EXPECT_EQ(Option(socket, SOL_SOCKET, SO_SNDBUF), 0);
  EXPECT_GT(Option(socket, IPPROTO_TCP, TCP_NODELAY), 0);
  platform::SocketClose(socket);
}

TEST(TcpSocket, ConnectsToDottedAddressesAndNamesWithTheLowSixteenBitsOfThePort) {
  const std::pair<const char*, int> cases[] = {
      {"127.0.0.1", 0}, {"127.0.0.1", 65536}, {"localhost", 0}};
  for (const auto& [host, portOffset] : cases) {
    SCOPED_TRACE(host);
    Listener listener;
    const platform::SocketHandle socket = platform::SocketCreate();
    EXPECT_TRUE(platform::SocketConnect(socket, host, listener.Port() + portOffset, 5000));
    const SOCKET accepted = listener.Accept();
    EXPECT_NE(accepted, INVALID_SOCKET);
    closesocket(accepted);
    platform::SocketClose(socket);
  }
}

TEST(TcpSocket, RefusedUnresolvedAndStalledConnectsFail) {
  const Listener bound(false);  // bound but not listening: refused
  platform::SocketHandle socket = platform::SocketCreate();
  EXPECT_FALSE(platform::SocketConnect(socket, "127.0.0.1", bound.Port(), 5000));
  platform::SocketClose(socket);

  socket = platform::SocketCreate();
  EXPECT_FALSE(platform::SocketConnect(socket, "nowhere.invalid", 25, 5000));
  platform::SocketClose(socket);

  // A queue of pending connections that is full: the connect neither
  // completes nor is refused until the time-out gives up.
  const Listener stalled(true, 0);
  const platform::SocketHandle filler = platform::SocketCreate();
  platform::SocketConnect(filler, "127.0.0.1", stalled.Port(), 1000);
  socket = platform::SocketCreate();
  EXPECT_FALSE(platform::SocketConnect(socket, "127.0.0.1", stalled.Port(), 300));
  platform::SocketClose(socket);
  platform::SocketClose(filler);
}

TEST(TcpSocket, LargeRunReachesASlowReaderWhole) {
  Listener listener;
  const platform::SocketHandle socket = platform::SocketCreate();
  ASSERT_TRUE(platform::SocketConnect(socket, "127.0.0.1", listener.Port(), 5000));
  const SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);

  std::string run(2 << 20, '\0');
  for (std::size_t i = 0; i < run.size(); ++i) run[i] = static_cast<char>('a' + i % 23);
  std::string received;
  std::thread reader([&] {
    Sleep(200);  // the sender finds the pipe full first
    char chunk[65536];
    int count;
    while ((count = recv(peer, chunk, sizeof chunk, 0)) > 0) received.append(chunk, count);
  });
  EXPECT_TRUE(platform::SocketSendAll(socket, run.data(), run.size()));
  platform::SocketClose(socket);
  reader.join();
  closesocket(peer);
  EXPECT_TRUE(received == run) << received.size() << " of " << run.size() << " bytes";
}

TEST(TcpSocket, WaitsForReadabilityReceivesAndSeesTheClose) {
  Listener listener;
  const platform::SocketHandle socket = platform::SocketCreate();
  ASSERT_TRUE(platform::SocketConnect(socket, "127.0.0.1", listener.Port(), 5000));
  const SOCKET peer = listener.Accept();
  ASSERT_NE(peer, INVALID_SOCKET);

  EXPECT_EQ(platform::SocketWaitReadable(socket, 0), 0);
  EXPECT_EQ(platform::SocketWaitReadable(socket, 50), 0);
  send(peer, "220 ready\r\n", 11, 0);
  EXPECT_EQ(platform::SocketWaitReadable(socket, 5000), 1);
  char buffer[64];
  EXPECT_EQ(platform::SocketReceive(socket, buffer, sizeof buffer), 11);
  closesocket(peer);
  EXPECT_EQ(platform::SocketWaitReadable(socket, 5000), 1);
  EXPECT_EQ(platform::SocketReceive(socket, buffer, sizeof buffer), 0);
  platform::SocketClose(socket);

  EXPECT_EQ(platform::SocketWaitReadable(platform::kInvalidSocket, 0), -1);
  EXPECT_EQ(platform::SocketReceive(platform::kInvalidSocket, buffer, sizeof buffer), -1);
  EXPECT_FALSE(platform::SocketSendAll(platform::kInvalidSocket, "x", 1));
}

TEST(TcpSocket, LocalHostNameIsTheSystemsName) {
  char name[256] = "";
  ASSERT_EQ(gethostname(name, sizeof name), 0);
  EXPECT_EQ(platform::LocalHostName(), name);
  EXPECT_FALSE(platform::LocalHostName().empty());
}

// Under Wine the zone comes from the TZ of the Linux side: the build runs this
// test once per zone and names the offset it expects.
TEST(LocalTime, OffsetIsTheZoneBiasReversedWithDaylightSaving) {
  const char* expected = std::getenv("MAILSENDER_EXPECTED_UTC_OFFSET");
  if (expected == nullptr) GTEST_SKIP() << "run by the build with a zone set";
  SYSTEMTIME before, after;
  GetSystemTime(&before);
  const platform::LocalMoment moment = platform::CurrentLocalMoment();
  GetSystemTime(&after);
  EXPECT_EQ(moment.utcOffsetMinutes, std::atoi(expected));

  // The fields, taken back to UTC, give the moment read.
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(moment.year);
  local.wMonth = static_cast<WORD>(moment.month);
  local.wDay = static_cast<WORD>(moment.day);
  local.wHour = static_cast<WORD>(moment.hour);
  local.wMinute = static_cast<WORD>(moment.minute);
  local.wSecond = static_cast<WORD>(moment.second);
  FILETIME file, first, last;
  ASSERT_TRUE(SystemTimeToFileTime(&local, &file));
  SystemTimeToFileTime(&before, &first);
  SystemTimeToFileTime(&after, &last);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<long long>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000000;
  };
  const long long utc = ticks(file) - moment.utcOffsetMinutes * 60LL;
  EXPECT_GE(utc, ticks(first));
  EXPECT_LE(utc, ticks(last));
  SYSTEMTIME weekday;
  FileTimeToSystemTime(&file, &weekday);
  EXPECT_EQ(weekday.wDayOfWeek, moment.weekday);
}

TEST(ProgramFolder, TheProgramsFolderBecomesTheCurrentDirectory) {
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
  ASSERT_TRUE(platform::EnterProgramFolder());
  char program[MAX_PATH], current[MAX_PATH];
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  GetCurrentDirectoryA(MAX_PATH, current);
  std::string folder(program);
  folder.resize(folder.rfind('\\'));
  EXPECT_EQ(std::string(current), folder);
}

}  // namespace
