#pragma once
#include "address_list.h"
#include "text_value.h"

namespace smtp {

// The message a session fills, sends and empties again on every send.
class MailMessage {
 public:
  virtual ~MailMessage() = default;

  MailAddress from;
  TextValue subject;
  TextValue body;
  MailAddress replyTo;
  RecipientList to;
  RecipientList cc;
  RecipientList bcc;

  // The header lines up to and including the empty line that ends them.
  virtual TextValue BuildHeaderBlock() const;
  void Clear();

 protected:
  // The Date value; the present moment unless a test fixes it.
  virtual TextValue DateValue() const;
};

}  // namespace smtp
