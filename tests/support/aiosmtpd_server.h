#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

namespace test_support {

// A real SMTP server (aiosmtpd, run by /usr/bin/python3) on 127.0.0.1 at a
// port it picks itself, offering AUTH LOGIN and AUTH PLAIN without TLS for one
// account, and saving every message it receives in its own temporary folder.
// The destructor stops the process and removes the folder.
class AiosmtpdServer {
 public:
  // excludedMethods: AUTH methods the server does not offer, e.g. {"LOGIN"}.
  AiosmtpdServer(const std::string& user, const std::string& password,
                 const std::vector<std::string>& excludedMethods = {});
  ~AiosmtpdServer();
  AiosmtpdServer(const AiosmtpdServer&) = delete;
  AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

  // True when the server is listening; otherwise error() says why not.
  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  const std::string& error() const { return error_; }

  // The number of messages received so far.
  int MessageCount() const;
  // The AUTH methods of the successful logins, in order.
  std::vector<std::string> LoginMethods() const;
  // Message number (from 1) decoded by Python's email package: "subject",
  // "from", "to", "cc", "reply_to", "charset", "body", "headers", "mail_from"
  // and "rcpt_tos" as UTF-8 texts (see decode_mail.py). Empty on failure.
  std::map<std::string, std::string> DecodeMessage(int number) const;

 private:
  void Stop();

  std::string folder_;
  std::string error_;
  std::optional<ChildProcess> server_;
  int port_ = 0;
};

}  // namespace test_support
