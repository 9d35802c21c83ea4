#include "base64.h"
#include "smtp_session.h"

namespace smtp {
namespace {

constexpr const char* kSendFailed = "发送数据失败!";

// A sender or reply-to mailbox: false when malformed; one without an address
// leaves target empty.
bool ParseOptionalMailbox(std::string_view text, MailAddress& target) {
  MailAddress mailbox;
  if (!ParseMailbox(text, mailbox)) return false;
  if (!mailbox.address.empty()) target = std::move(mailbox);
  return true;
}

// Fills the addresses of mail; the failure text of the first malformed one,
// or nullptr.
const char* ParseAddresses(MailMessage& mail, std::string_view to, std::string_view cc,
                           std::string_view bcc, std::string_view sender,
                           std::string_view replyTo) {
  if (!ParseAddressList(to, mail.to) || !ParseAddressList(cc, mail.cc) ||
      !ParseAddressList(bcc, mail.bcc))
    return "目的邮件地址格式错误!";
  if (!ParseOptionalMailbox(sender, mail.from)) return "发信人邮件地址格式错误!";
  if (!ParseOptionalMailbox(replyTo, mail.replyTo)) return "回复邮件地址格式错误!";
  return nullptr;
}

}  // namespace

TextValue SmtpSession::SendMail(TextValue subject, TextValue body, std::string_view to,
                                std::string_view cc, std::string_view bcc,
                                std::string_view sender,
                                std::optional<std::string_view> replyTo) {
  message.subject = std::move(subject);
  message.body = std::move(body);
  TextValue result;
  if (const char* failure =
          ParseAddresses(message, to, cc, bcc, sender, replyTo.value_or(sender))) {
    result = failure;
  } else if (!RunMailTransaction(message)) {
    result = lastErrorText;
  }
  // Nothing of this message may reach the next one, whatever happened.
  message.Clear();
  return result;
}

bool SmtpSession::RunMailTransaction(const MailMessage& mail) {
  if (!connected) {
    lastErrorText = "未连接到SMTP服务器!";
    return false;
  }
  if (mail.to.empty() && mail.cc.empty() && mail.bcc.empty()) {
    lastErrorText = "未指定发送地址!";
    return false;
  }
  if (!SendCommand("MAIL FROM:<" + mail.from.address + ">\r\n", kSendFailed)) return false;

  // From here on a failure leaves a transaction open on the server: RSET ends
  // it, and the connection stays for the next send.
  const auto resetAndFail = [this] {
    ResetTransaction();
    return false;
  };
  if (!ReadReply(250)) return resetAndFail();
  for (const RecipientList* list : {&mail.to, &mail.cc, &mail.bcc}) {
    for (const MailAddress& mailbox : *list) {
      if (!SendRecipient(mailbox)) return resetAndFail();
    }
  }
  if (!SendCommand("DATA\r\n", kSendFailed) || !ReadReply(354)) return resetAndFail();
  // The header is built only now, so its Date is the moment DATA was accepted.
  if (!SendCommand(mail.BuildHeaderBlock(), "发送邮件头失败!") ||
      !SendBody(mail.body) ||
      !SendCommand("\r\n.\r\n", kSendFailed) || !ReadReply(250))
    return resetAndFail();
  return true;
}

bool SmtpSession::SendBody(std::string_view body) {
  BodyEncoder encoder(body);
  for (std::string_view piece = encoder.Next(); !piece.empty(); piece = encoder.Next()) {
    if (!channel.SendBytes(piece)) {
      lastErrorText = "发送邮件内容失败!";
      return false;
    }
  }
  return true;
}

bool SmtpSession::SendRecipient(const MailAddress& mailbox) {
  return SendCommand("RCPT TO:<" + mailbox.address + ">\r\n", kSendFailed) && ReadReply(250);
}

void SmtpSession::ResetTransaction() {
  const std::int32_t failureCode = lastReplyCode;
  TextValue failureText = std::move(lastErrorText);
  if (channel.SendBytes("RSET\r\n")) ReadReply(0);
  lastReplyCode = failureCode;
  lastErrorText = std::move(failureText);
}

TextValue SendMail(TextValue subject, TextValue body, std::string_view to,
                   std::string_view sender) {
  return ProcessSession().SendMail(std::move(subject), std::move(body), to, {}, {}, sender,
                                   std::nullopt);
}

TextValue SendMail(TextValue subject, TextValue body, std::string_view to, std::string_view cc,
                   std::string_view bcc, std::string_view sender,
                   std::optional<std::string_view> replyTo) {
  return ProcessSession().SendMail(std::move(subject), std::move(body), to, cc, bcc, sender,
                                   replyTo);
}

}  // namespace smtp
