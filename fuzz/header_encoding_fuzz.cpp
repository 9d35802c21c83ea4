// EncodeHeaderText: an ASCII text comes back unchanged; any other text becomes
// folded encoded words, each at most 75 characters, each holding whole GBK
// characters (counted from the start of the text), which decode back to the
// input bytes. And whatever the subject and display name hold, the header
// block keeps its shape: no lone CR or LF, and every line break is followed
// by a folding space or by the next of the block's own header names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "address_list.h"
#include "base64_decode.h"
#include "fuzz_check.h"
#include "header_encoding.h"
#include "mail_message.h"

namespace {

constexpr std::string_view kWordStart = "=?gb2312?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::string_view kFold = "\r\n ";

// Offsets that hold the second byte of a double-byte character.
std::vector<bool> TrailBytes(std::string_view text) {
  std::vector<bool> trail(text.size() + 1, false);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x81 && byte <= 0xFE && i + 1 < text.size()) trail[++i] = true;
  }
  return trail;
}

void CheckEncodedText(std::string_view text) {
  const TextValue encoded = smtp::EncodeHeaderText(text);
  if (smtp::IsAsciiText(text)) {
    FUZZ_CHECK(encoded == text);
    return;
  }
  const std::vector<bool> trail = TrailBytes(text);
  std::string decoded;
  std::string_view rest = encoded;
  for (bool first = true;; first = false) {
    if (!first) {
      FUZZ_CHECK(rest.substr(0, kFold.size()) == kFold);
      rest.remove_prefix(kFold.size());
    }
    const std::size_t end = rest.find(kFold);
    const std::string_view word = rest.substr(0, end);
    FUZZ_CHECK(word.size() <= 75);
    FUZZ_CHECK(word.size() > kWordStart.size() + kWordEnd.size());
    FUZZ_CHECK(word.substr(0, kWordStart.size()) == kWordStart);
    FUZZ_CHECK(word.substr(word.size() - kWordEnd.size()) == kWordEnd);
    const auto bytes = fuzz::DecodeBase64(
        word.substr(kWordStart.size(), word.size() - kWordStart.size() - kWordEnd.size()));
    FUZZ_CHECK(bytes.has_value() && !bytes->empty());
    // The word starts and ends on a character edge.
    FUZZ_CHECK(!trail[decoded.size()]);
    decoded += *bytes;
    FUZZ_CHECK(decoded.size() <= text.size() && !trail[decoded.size()]);
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end);
  }
  FUZZ_CHECK(decoded == text);
}

class FixedDateMessage : public smtp::MailMessage {
 protected:
  TextValue DateValue() const override { return "Tue, 09 Dec 2025 21:16:00 +0800"; }
};

void CheckHeaderBlock(std::string_view subject, std::string_view mailboxText) {
  FixedDateMessage message;
  message.subject = subject;
  message.body = subject;
  smtp::MailAddress mailbox;
  if (smtp::ParseMailbox(mailboxText, mailbox) && !mailbox.address.empty()) {
    message.from = mailbox;
    message.replyTo = mailbox;
    message.to.push_back(mailbox);
    message.cc.push_back(mailbox);
  }
  const TextValue block = message.BuildHeaderBlock();
  const std::vector<std::string_view> names = {"From: ",     "To: ",          "Cc: ",
                                               "Subject: ",  "Date: ",        "Reply-To: ",
                                               "MIME-Version: ", "Content-type: ",
                                               "Content-Transfer-Encoding: "};
  std::size_t nextName = 0;
  std::string_view rest = block;
  FUZZ_CHECK(rest.size() >= 4 && rest.substr(rest.size() - 4) == "\r\n\r\n");
  rest.remove_suffix(2);
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    FUZZ_CHECK(end != std::string_view::npos);
    const std::string_view line = rest.substr(0, end);
    FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
    if (line.substr(0, 1) != " ") {
      // A new field: one of the block's own, in the block's order.
      while (nextName < names.size() && line.substr(0, names[nextName].size()) != names[nextName])
        ++nextName;
      FUZZ_CHECK(nextName < names.size());
      ++nextName;
    } else {
      FUZZ_CHECK(nextName != 0);
    }
    rest.remove_prefix(end + 2);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);
  CheckEncodedText(input);
  // The first byte chooses where the subject ends and a mailbox text begins.
  const std::size_t split = size == 0 ? 0 : data[0] % size;
  CheckHeaderBlock(input.substr(0, split), input.substr(split));
  return 0;
}
