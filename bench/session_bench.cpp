// The transport against real SMTP servers on loopback. Each mode is one fresh
// process so that its peak resident memory is its own.
//
//   bench_session message SIZE FILE         writes the bytes one message with a
//                                           body of SIZE bytes puts after DATA
//   bench_session messages PORT COUNT SIZE  one Connect, COUNT messages
//   bench_session login PORT USER PASSWORD COUNT
//                                           COUNT Connects with AUTH LOGIN;
//                                           prints the median Connect time
//   bench_session large PORT SIZE           one message of SIZE bytes; prints
//                                           the SendMail time and peak memory
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "address_list.h"
#include "base64.h"
#include "mail_message.h"
#include "smtp_session.h"

namespace {

const char* const kServer = "127.0.0.1";
const char* const kSender = "发信人 <sender@example.com>";
const char* const kRecipient = "收信人 <rcpt@example.com>";

// Seconds on the monotonic clock (<chrono> does not compile with GBK literals:
// it holds a micro sign that GBK cannot encode).
double Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// GBK lines of exactly size bytes (size even), built in place: the caller
// holds the one copy.
TextValue Body(std::size_t size) {
  const std::string line =
      "这是性能测试的正文，每一行都是同样的中文句子，直到正文达到要求的长度为止。\r\n";
  TextValue body;
  body.reserve(size);
  while (body.size() + line.size() <= size) body += line;
  body.append(line, 0, size - body.size());
  return body;
}

const TextValue& Subject() {
  static const TextValue subject = "性能测试 benchmark";
  return subject;
}

bool Send(smtp::SmtpSession& session, TextValue body) {
  const TextValue result =
      session.SendMail(Subject(), std::move(body), kRecipient, {}, {}, kSender);
  if (result.empty()) return true;
  std::fprintf(stderr, "SendMail failed (reply code %d): %s\n", session.lastReplyCode,
               result.c_str());
  return false;
}

bool Open(smtp::SmtpSession& session, int port, const TextValue& user = {},
          const TextValue& password = {}) {
  if (session.Connect(kServer, port, user, password, 2000)) return true;
  std::fprintf(stderr, "Connect to port %d failed (reply code %d): %s\n", port,
               session.lastReplyCode, session.lastErrorText.c_str());
  return false;
}

int WriteMessage(std::size_t size, const char* fileName) {
  smtp::MailMessage message;
  message.subject = Subject();
  message.body = Body(size);
  if (!smtp::ParseAddressList(kRecipient, message.to) ||
      !smtp::ParseMailbox(kSender, message.from)) {
    return 1;
  }
  message.replyTo = message.from;
  const TextValue header = message.BuildHeaderBlock();
  const TextValue body = smtp::Base64Encode(message.body, true);
  // The empty line the session sends before the final "." line.
  const char closing[] = "\r\n";
  std::FILE* file = std::fopen(fileName, "wb");
  if (file == nullptr) return 1;
  const bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
                       std::fwrite(body.data(), 1, body.size(), file) == body.size() &&
                       std::fwrite(closing, 1, 2, file) == 2;
  return std::fclose(file) == 0 && written ? 0 : 1;
}

int SendMessages(int port, int count, std::size_t size) {
  smtp::SmtpSession session;
  if (!Open(session, port)) return 1;
  const TextValue body = Body(size);
  for (int i = 0; i < count; ++i) {
    if (!Send(session, body)) return 1;
  }
  session.Disconnect();
  return 0;
}

int MeasureLogin(int port, const TextValue& user, const TextValue& password, int count) {
  smtp::SmtpSession session;
  std::vector<double> seconds;
  for (int i = 0; i < count; ++i) {
    const double start = Now();
    if (!Open(session, port, user, password)) return 1;
    seconds.push_back(Now() - start);
    session.Disconnect();
  }
  std::nth_element(seconds.begin(), seconds.begin() + count / 2, seconds.end());
  std::printf("median_seconds %.9f\n", seconds[count / 2]);
  return 0;
}

int SendLarge(int port, std::size_t size) {
  smtp::SmtpSession session;
  if (!Open(session, port)) return 1;
  TextValue body = Body(size);
  const double start = Now();
  if (!Send(session, std::move(body))) return 1;
  const double seconds = Now() - start;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("seconds %.9f\npeak_kib %ld\n", seconds, usage.ru_maxrss);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: bench_session message SIZE FILE | messages PORT COUNT SIZE |\n"
               "       login PORT USER PASSWORD COUNT | large PORT SIZE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto number = [&](std::size_t i) { return std::strtoull(args[i].c_str(), nullptr, 10); };
  if (args.size() == 3 && args[0] == "message") return WriteMessage(number(1), argv[3]);
  if (args.size() == 4 && args[0] == "messages")
    return SendMessages(static_cast<int>(number(1)), static_cast<int>(number(2)), number(3));
  if (args.size() == 5 && args[0] == "login" && number(4) > 0)
    return MeasureLogin(static_cast<int>(number(1)), args[2], args[3], static_cast<int>(number(4)));
  if (args.size() == 3 && args[0] == "large")
    return SendLarge(static_cast<int>(number(1)), number(2));
  return Usage();
}
