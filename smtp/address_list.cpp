#include "address_list.h"

#include <utility>

namespace smtp {
namespace {

// The six ASCII white-space bytes; no byte of a GBK character is one, so a
// full-width space stays part of the text.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool HoldsLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// The first "<" that is not the second byte of a GBK double-byte character.
std::size_t FindOpeningBracket(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '<') return i;
    if (byte >= 0x81 && byte <= 0xFE) ++i;
  }
  return std::string_view::npos;
}

}  // namespace

bool ParseMailbox(std::string_view text, MailAddress& mailbox) {
  std::string_view displayName;
  std::string_view address = text;
  const std::size_t open = FindOpeningBracket(text);
  if (open != std::string_view::npos) {
    const std::size_t close = text.find('>');
    if (close == std::string_view::npos || close < open) return false;
    displayName = text.substr(0, open);
    address = text.substr(open + 1, close - open - 1);
  }
  displayName = TrimBlanks(displayName);
  address = TrimBlanks(address);
  // A line break left inside would end the SMTP command or header line the
  // mailbox is written into, and let the text add one of its own.
  if (HoldsLineBreak(displayName) || HoldsLineBreak(address)) return false;
  mailbox.displayName.assign(displayName);
  mailbox.address.assign(address);
  return true;
}

bool ParseAddressList(std::string_view text, RecipientList& target) {
  while (!text.empty()) {
    const std::size_t end = text.find_first_of(",;");
    const std::string_view piece = text.substr(0, end);
    MailAddress mailbox;
    if (!ParseMailbox(piece, mailbox)) return false;
    if (!mailbox.address.empty()) target.push_back(std::move(mailbox));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace smtp
