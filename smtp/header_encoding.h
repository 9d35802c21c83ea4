#pragma once
#include <string_view>

#include "address_list.h"
#include "text_value.h"

namespace smtp {

// True when no byte has its top bit set.
bool IsAsciiText(std::string_view text);

// "us-ascii" for an ASCII text, else "gb2312".
const char* CharsetLabel(std::string_view text);

// An ASCII text unchanged; otherwise RFC 2047 "B" words of at most 45 bytes
// each, never dividing a GBK character, folded with CR LF and a space.
TextValue EncodeHeaderText(std::string_view text);

// "address", or the encoded display name, a space and "<address>".
TextValue FormatMailbox(const MailAddress& mailbox);

// The formatted mailboxes joined by ",".
TextValue FormatMailboxList(const RecipientList& list);

}  // namespace smtp
