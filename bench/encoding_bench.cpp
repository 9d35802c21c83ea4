// The transport's CPU work, measured with Google Benchmark: base64 of a large
// body, encoded header words, the header block, a long address list, and the
// reading of a long multi-line reply from a loopback server.
//
// Usage: bench_encoding RANDOM_FILE [benchmark flags]
// RANDOM_FILE holds the bytes Base64Encode is measured on (the run script
// hands the same file to coreutils base64).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "address_list.h"
#include "base64.h"
#include "header_encoding.h"
#include "mail_message.h"
#include "smtp_session.h"

namespace {

std::string randomBytes;

// GBK text of exactly length bytes, made only of double-byte characters so
// that no cut divides one.
std::string ChineseText(std::size_t length) {
  const std::string sentence =
      "邮件发送器把标题和正文编码成七位文本，再经由简单邮件传输协议送到服务器。";
  std::string text;
  while (text.size() < length) text += sentence;
  text.resize(length & ~std::size_t{1});
  return text;
}

void BM_Base64Encode(benchmark::State& state) {
  for (auto _ : state) {
    // As a send encodes a body: piece by piece into one buffer.
    smtp::BodyEncoder encoder(randomBytes);
    for (std::string_view piece = encoder.Next(); !piece.empty(); piece = encoder.Next())
      benchmark::DoNotOptimize(piece.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * randomBytes.size()));
}

void BM_EncodeHeaderText(benchmark::State& state) {
  const std::string text = ChineseText(1024);
  for (auto _ : state) {
    TextValue encoded = smtp::EncodeHeaderText(text);
    benchmark::DoNotOptimize(encoded.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_BuildHeaderBlock(benchmark::State& state) {
  smtp::MailMessage message;
  smtp::ParseMailbox("发信人 <sender@example.com>", message.from);
  message.replyTo = message.from;
  message.subject = ChineseText(60);
  smtp::ParseAddressList("张三 <zhang@example.com>, li@example.com; 王五 <wang@example.org>",
                         message.to);
  smtp::ParseAddressList("copy@example.com, 赵六 <zhao@example.net>", message.cc);
  for (auto _ : state) {
    TextValue block = message.BuildHeaderBlock();
    benchmark::DoNotOptimize(block.data());
  }
}

void BM_ParseAddressList(benchmark::State& state) {
  constexpr int kAddresses = 10000;
  std::string list;
  for (int i = 0; i < kAddresses; ++i) {
    char piece[96];
    if (i % 2 == 0)
      std::snprintf(piece, sizeof piece, "用户%05d <user%05d@example.com>, ", i, i);
    else
      std::snprintf(piece, sizeof piece, "user%05d@example.org; ", i);
    list += piece;
  }
  for (auto _ : state) {
    smtp::RecipientList recipients;
    if (!smtp::ParseAddressList(list, recipients) || recipients.size() != kAddresses) {
      state.SkipWithError("ParseAddressList refused the list");
      break;
    }
    benchmark::DoNotOptimize(recipients.data());
  }
  state.SetItemsProcessed(state.iterations() * kAddresses);
}

// A loopback server that answers every line it receives with one reply.
class ReplyServer {
 public:
  explicit ReplyServer(std::string reply) : reply_(std::move(reply)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ReplyServer() {
    shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(listener_);
  }
  int port() const { return port_; }

 private:
  void Serve() {
    const int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    char buffer[256];
    long received;
    while ((received = recv(client, buffer, sizeof buffer, 0)) > 0) {
      if (buffer[received - 1] != '\n') continue;
      for (std::size_t sent = 0; sent < reply_.size();) {
        const long n = send(client, reply_.data() + sent, reply_.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
    }
    close(client);
  }

  std::string reply_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

void BM_ReadReply(benchmark::State& state) {
  std::string reply;
  const std::string line = "250-" + std::string(70, 'x') + "\r\n";
  while (reply.size() + line.size() < 512 * 1024 - 8) reply += line;
  reply += "250 OK\r\n";
  ReplyServer server(reply);
  smtp::SmtpSession session;
  if (server.port() == 0 || !session.channel.OpenSocket() ||
      !session.channel.ConnectSocket("127.0.0.1", server.port())) {
    state.SkipWithError("no loopback connection");
    return;
  }
  for (auto _ : state) {
    if (!session.channel.SendBytes("NOOP\r\n") || !session.ReadReply(250)) {
      state.SkipWithError("the reply was not read");
      break;
    }
  }
  session.channel.CloseSocket();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * reply.size()));
}

}  // namespace

BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeHeaderText)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildHeaderBlock)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseAddressList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadReply)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s RANDOM_FILE [benchmark flags]\n", argv[0]);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary | std::ios::ate);
  randomBytes.resize(static_cast<std::size_t>(std::max<std::streamoff>(file.tellg(), 0)));
  file.seekg(0);
  if (randomBytes.empty() ||
      !file.read(randomBytes.data(), static_cast<std::streamsize>(randomBytes.size()))) {
    std::fprintf(stderr, "%s: no bytes to encode\n", argv[1]);
    return 2;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
