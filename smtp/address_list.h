#pragma once
#include <string_view>
#include <vector>

#include "text_value.h"

namespace smtp {

struct MailAddress {
  TextValue displayName;
  TextValue address;
  bool operator==(const MailAddress&) const = default;
};

using RecipientList = std::vector<MailAddress>;

// "address" or "display name <address>". False when the angle brackets are
// missing or out of order, or when the address or display name holds a CR or
// LF (it would end the command or header line it is put into).
bool ParseMailbox(std::string_view text, MailAddress& mailbox);

// Appends the mailboxes of a list separated by "," or ";" to target, skipping
// pieces without an address. False at the first malformed piece; what was
// appended before it stays.
bool ParseAddressList(std::string_view text, RecipientList& target);

}  // namespace smtp
