#pragma once
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "mail_message.h"
#include "socket_channel.h"
#include "text_value.h"

namespace smtp {

// A reply longer than this fails the read: a server cannot exhaust memory.
inline constexpr std::size_t kMaxReplyBytes = 1024 * 1024;

// The state of one SMTP client: its connection, the words of the last reply
// or local failure, and the one message being sent. Every operation reports
// failure by its result and leaves the reason in lastErrorText.
class SmtpSession {
 public:
  SmtpSession();
  // Empties the message and closes the session, sending QUIT when open.
  ~SmtpSession();
  SmtpSession(const SmtpSession&) = delete;
  SmtpSession& operator=(const SmtpSession&) = delete;

  SocketChannel channel;
  bool connected = false;
  std::uint32_t timeoutMs = 2000;
  std::vector<TextValue> replyKeywords;
  std::vector<TextValue> replyParams;
  std::int32_t lastReplyCode = 0;
  TextValue lastErrorText;
  MailMessage message;

  // --- replies (reply_reader.cpp) ---
  // Reads one complete reply; true exactly when its code equals expectedCode
  // (0 reads any reply and leaves the judging to the caller). Always rewrites
  // lastReplyCode, the reply lines and lastErrorText.
  bool ReadReply(int expectedCode);
  // The parameters of the first reply line whose keyword is keyword (ASCII
  // case ignored); nullopt when none.
  std::optional<TextValue> FindReplyKeyword(std::string_view keyword) const;

  // --- login and logout (smtp_session.cpp) ---
  // Opens the connection, reads the greeting, and says EHLO and logs in when
  // user and password are given, or says HELO. A failure leaves the session
  // closed, after QUIT once the TCP connection was made.
  bool Connect(const TextValue& server, int port, const TextValue& user,
               const TextValue& password, std::uint32_t timeoutMs);
  // EHLO and authentication; needHelo stays true when the caller must say HELO.
  bool Login(const TextValue& hostName, const TextValue& user, const TextValue& password,
             bool& needHelo);
  // QUIT when connected, then the socket is closed.
  void Disconnect();

  // --- the send transaction (send_transaction.cpp) ---
  // Parses the addresses, runs the transaction and empties the message. The
  // empty text on success, else the reason. replyTo defaults to the sender.
  TextValue SendMail(TextValue subject, TextValue body, std::string_view to,
                     std::string_view cc, std::string_view bcc, std::string_view sender,
                     std::optional<std::string_view> replyTo = std::nullopt);
  bool RunMailTransaction(const MailMessage& mail);
  bool SendRecipient(const MailAddress& mailbox);
  void ResetTransaction();

 private:
  // Disconnect, keeping the failure's lastErrorText.
  void CloseFailedSession();
  // One command line; on failure lastErrorText becomes failureText.
  bool SendCommand(std::string_view line, const char* failureText);
  // The body's base64 lines, each piece sent as soon as it is encoded.
  bool SendBody(std::string_view body);
};

// True when one of the words of list (split at bytes of 32 and below) equals
// word, ASCII case ignored.
bool HasWord(std::string_view list, std::string_view word);

// The SmtpSession of the process, constructed before main.
SmtpSession& ProcessSession();

// The two commands the application uses, on the process's session.
bool ConnectSmtpServer(const TextValue& server, int port = 25, const TextValue& user = {},
                       const TextValue& password = {}, int timeoutMs = 2000);

// Subject, body, recipients and sender; no copies, reply-to the sender.
TextValue SendMail(TextValue subject, TextValue body, std::string_view to,
                   std::string_view sender);
// All seven; replyTo nullopt means the sender.
TextValue SendMail(TextValue subject, TextValue body, std::string_view to, std::string_view cc,
                   std::string_view bcc, std::string_view sender,
                   std::optional<std::string_view> replyTo);

}  // namespace smtp
