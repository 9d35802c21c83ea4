#include "mail_message.h"

namespace smtp {

// Placeholder: the header block is being written on its own branch.
TextValue MailMessage::BuildHeaderBlock() const { return {}; }
TextValue MailMessage::DateValue() const { return {}; }

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
