#include "mail_message.h"

#include <algorithm>

#include "date_value.h"
#include "header_encoding.h"

namespace smtp {
namespace {

void AppendLine(TextValue& block, std::string_view name, std::string_view value) {
  block += name;
  block += value;
  block += "\r\n";
}

}  // namespace

// Built by appending: values go in unchanged, a "%" in them means nothing.
TextValue MailMessage::BuildHeaderBlock() const {
  TextValue block;
  AppendLine(block, "From: ", FormatMailbox(from));
  AppendLine(block, "To: ", FormatMailboxList(to));
  const TextValue copies = FormatMailboxList(cc);
  if (!copies.empty()) AppendLine(block, "Cc: ", copies);
  // A line break typed into the subject must not start a header line or an
  // SMTP command of its own.
  TextValue oneLineSubject = subject;
  std::replace_if(
      oneLineSubject.begin(), oneLineSubject.end(), [](char c) { return c == '\r' || c == '\n'; },
      ' ');
  AppendLine(block, "Subject: ", EncodeHeaderText(oneLineSubject));
  AppendLine(block, "Date: ", DateValue());
  if (!replyTo.address.empty()) AppendLine(block, "Reply-To: ", FormatMailbox(replyTo));
  block += "MIME-Version: 1.0\r\nContent-type: text/plain; charset=\"";
  block += CharsetLabel(body);
  block += "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n";
  return block;
}

TextValue MailMessage::DateValue() const { return FormatDateValue(); }

void MailMessage::Clear() {
  from = {};
  replyTo = {};
  subject.clear();
  body.clear();
  to.clear();
  cc.clear();
  bcc.clear();
}

}  // namespace smtp
