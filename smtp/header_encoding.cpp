#include "header_encoding.h"

#include <vector>

#include "base64.h"

namespace smtp {
namespace {

// The label of every non-ASCII text, although the texts are GBK.
constexpr char kWideCharset[] = "gb2312";
// 4 * ceil(45 / 3) = 60 characters, within the 62 that keep a word of this
// label at 75 characters or less.
constexpr std::size_t kMaxWordBytes = 45;

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// True at every position that holds the second byte of a double-byte
// character, the characters counted from the start of the text.
std::vector<bool> TrailBytePositions(std::string_view text) {
  std::vector<bool> trail(text.size(), false);
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i]))) trail[++i] = true;
  }
  return trail;
}

void AppendEncodedWord(std::string_view piece, bool first, TextValue& out) {
  if (!first) out += "\r\n ";
  out += "=?";
  out += kWideCharset;
  out += "?B?";
  out += Base64Encode(piece, false);
  out += "?=";
}

// Halves [begin, end) until each part fits one word; a cut inside a character
// moves to its start, so every word holds whole characters.
void AppendEncodedWords(std::string_view text, const std::vector<bool>& trail,
                        std::size_t begin, std::size_t end, TextValue& out) {
  if (end - begin <= kMaxWordBytes) {
    AppendEncodedWord(text.substr(begin, end - begin), begin == 0, out);
    return;
  }
  std::size_t cut = begin + (end - begin) / 2;
  if (trail[cut]) --cut;
  AppendEncodedWords(text, trail, begin, cut, out);
  AppendEncodedWords(text, trail, cut, end, out);
}

}  // namespace

bool IsAsciiText(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

const char* CharsetLabel(std::string_view text) {
  return IsAsciiText(text) ? "us-ascii" : kWideCharset;
}

TextValue EncodeHeaderText(std::string_view text) {
  if (IsAsciiText(text)) return TextValue(text);
  TextValue out;
  AppendEncodedWords(text, TrailBytePositions(text), 0, text.size(), out);
  return out;
}

TextValue FormatMailbox(const MailAddress& mailbox) {
  if (mailbox.displayName.empty()) return mailbox.address;
  TextValue out = EncodeHeaderText(mailbox.displayName);
  out += " <";
  out += mailbox.address;
  out += '>';
  return out;
}

TextValue FormatMailboxList(const RecipientList& list) {
  TextValue out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i != 0) out += ',';
    out += FormatMailbox(list[i]);
  }
  return out;
}

}  // namespace smtp
