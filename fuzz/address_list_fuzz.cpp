// ParseMailbox and ParseAddressList against a plain reading of the syntax:
// a list is split at every "," and ";", a mailbox is "address" or
// "name <address>" with the first "<" found stepping over double-byte
// characters. No accepted mailbox holds a CR or LF, no appended address is
// empty, and mailboxes already in the target list are never touched.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "address_list.h"
#include "fuzz_check.h"

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

bool HasLineBreak(const std::string& text) {
  return text.find('\r') != std::string::npos || text.find('\n') != std::string::npos;
}

std::optional<smtp::MailAddress> ReferenceMailbox(std::string_view text) {
  std::size_t open = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '<') {
      open = i;
      break;
    }
    if (byte >= 0x81 && byte <= 0xFE) ++i;
  }
  smtp::MailAddress mailbox;
  if (open == std::string_view::npos) {
    mailbox.address = Trim(text);
  } else {
    const std::size_t close = text.find('>');
    if (close == std::string_view::npos || close < open) return std::nullopt;
    mailbox.displayName = Trim(text.substr(0, open));
    mailbox.address = Trim(text.substr(open + 1, close - open - 1));
  }
  if (HasLineBreak(mailbox.displayName) || HasLineBreak(mailbox.address)) return std::nullopt;
  return mailbox;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);

  smtp::MailAddress mailbox;
  const bool accepted = smtp::ParseMailbox(text, mailbox);
  const std::optional<smtp::MailAddress> expected = ReferenceMailbox(text);
  FUZZ_CHECK(accepted == expected.has_value());
  if (accepted) {
    FUZZ_CHECK(mailbox == *expected);
    FUZZ_CHECK(!HasLineBreak(mailbox.displayName) && !HasLineBreak(mailbox.address));
  }

  const smtp::MailAddress sentinel{"kept", "kept@x"};
  smtp::RecipientList list{sentinel};
  const bool listAccepted = smtp::ParseAddressList(text, list);
  smtp::RecipientList expectedList{sentinel};
  bool expectedAccepted = true;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != ',' && text[i] != ';') continue;
    const std::optional<smtp::MailAddress> piece = ReferenceMailbox(text.substr(start, i - start));
    if (!piece) {
      expectedAccepted = false;
      break;
    }
    if (!piece->address.empty()) expectedList.push_back(*piece);
    start = i + 1;
  }
  FUZZ_CHECK(listAccepted == expectedAccepted);
  FUZZ_CHECK(list == expectedList);
  FUZZ_CHECK(list.front() == sentinel);
  for (std::size_t i = 1; i < list.size(); ++i) {
    FUZZ_CHECK(!list[i].address.empty());
    FUZZ_CHECK(!HasLineBreak(list[i].address) && !HasLineBreak(list[i].displayName));
  }
  return 0;
}
