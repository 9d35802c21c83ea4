#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "clock.h"
#include "smtp_session.h"

namespace smtp {

namespace {

constexpr unsigned kPollPauseMs = 250;
constexpr std::size_t kInitialReplyBuffer = 1024;

bool IsBlank(char byte) { return static_cast<unsigned char>(byte) <= 32; }

char AsciiLower(char byte) { return byte >= 'A' && byte <= 'Z' ? byte - 'A' + 'a' : byte; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view TrimBlanksAtEnd(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view SkipBlanksAtStart(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

// The bytes of one reply as they come in. The reply's text ends at its first
// NUL: bytes after one are received (and count towards the size limit) but
// never looked at, so such a reply cannot complete. Every byte is scanned
// once, on arrival.
class ReplyBuffer {
 public:
  // Free room for the next receive; grows geometrically, never beyond one
  // byte more than a reply may have.
  std::pair<char*, std::size_t> Room() {
    if (received_ == bytes_.size()) {
      bytes_.resize(std::min(bytes_.size() * 2, kMaxReplyBytes + 1));
    }
    return {bytes_.data() + received_, bytes_.size() - received_};
  }

  void Commit(std::size_t count) {
    const std::size_t end = received_ + count;
    for (std::size_t i = received_; i < end && !endsAtNul_; ++i) {
      const char byte = bytes_[i];
      if (byte == '\0') {
        endsAtNul_ = true;
        break;
      }
      if (byte == '\n') lineStart_ = i + 1;
      if (byte == '\r') {
        lastLineStart_ = lineStart_;
        lastCr_ = i;
      }
      text_ = i + 1;
    }
    received_ = end;
  }

  bool TooLong() const { return received_ > kMaxReplyBytes; }

  // Complete once the line that the last CR ends has a space in its fourth
  // byte, or is a code alone (a last line may end right after its code);
  // without any CR a reply is never complete.
  bool Complete() const {
    if (lastLineStart_ == kNoLine) return false;
    if (lastLineStart_ + 3 < text_ && bytes_[lastLineStart_ + 3] == ' ') return true;
    const auto isDigit = [this](std::size_t at) { return bytes_[at] >= '0' && bytes_[at] <= '9'; };
    return lastCr_ == lastLineStart_ + 3 && isDigit(lastLineStart_) && isDigit(lastLineStart_ + 1) &&
           isDigit(lastLineStart_ + 2);
  }

  // The first three bytes of the last line: the reply code.
  std::string_view CodeBytes() const { return {bytes_.data() + lastLineStart_, 3}; }
  std::string_view Text() const { return {bytes_.data(), text_}; }
  bool Empty() const { return received_ == 0; }

 private:
  std::vector<char> bytes_ = std::vector<char>(kInitialReplyBuffer);
  std::size_t received_ = 0;
  std::size_t text_ = 0;  // bytes before the first NUL
  bool endsAtNul_ = false;
  std::size_t lineStart_ = 0;  // just after the last LF of the text
  static constexpr std::size_t kNoLine = static_cast<std::size_t>(-1);
  std::size_t lastLineStart_ = kNoLine;  // start of the line the last CR ends
  std::size_t lastCr_ = kNoLine;
};

enum class ReadEnd { kComplete, kSilence, kClosed, kNetworkError, kTooLong };

// Receives until the reply is complete, the server has been silent for longer
// than timeoutMs, has closed the connection, or the network fails. Waits for
// data at most kPollPauseMs at a time and never beyond the time-out.
ReadEnd CollectReply(SocketChannel& channel, std::uint32_t timeoutMs, ReplyBuffer& reply) {
  std::uint32_t lastActivity = platform::TickCount();
  for (;;) {
    const std::uint32_t silence = platform::TickCount() - lastActivity;
    if (silence > timeoutMs) return ReadEnd::kSilence;
    bool readable = false;
    if (!channel.PollReadable(readable)) return ReadEnd::kNetworkError;
    if (!readable) {
      // One past the time left, so that a silent wait ends beyond the time-out.
      const auto wait = std::min<std::uint64_t>(kPollPauseMs, std::uint64_t{timeoutMs} - silence + 1);
      if (!channel.WaitReadable(static_cast<unsigned>(wait), readable)) return ReadEnd::kNetworkError;
      continue;
    }
    const auto [room, size] = reply.Room();
    const long count = channel.ReceiveBytes(room, size);
    if (count < 0) return ReadEnd::kNetworkError;
    if (count == 0) return ReadEnd::kClosed;
    lastActivity = platform::TickCount();
    reply.Commit(static_cast<std::size_t>(count));
    if (reply.TooLong()) return ReadEnd::kTooLong;
    if (reply.Complete()) return ReadEnd::kComplete;
  }
}

// Like atoi: leading blanks, an optional sign, digits; 0 without digits.
std::int32_t ParseCode(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size() && (bytes[i] == ' ' || (bytes[i] >= '\t' && bytes[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < bytes.size() && (bytes[i] == '+' || bytes[i] == '-')) negative = bytes[i++] == '-';
  std::int32_t value = 0;
  for (; i < bytes.size() && bytes[i] >= '0' && bytes[i] <= '9'; ++i) value = value * 10 + (bytes[i] - '0');
  return negative ? -value : value;
}

// Each line that a CR ends, past its code and separator, gives a keyword and
// its parameters; lines of four bytes or less and blank lines give nothing.
void SplitLines(std::string_view text, std::vector<TextValue>& keywords,
                std::vector<TextValue>& params) {
  for (std::size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r')) {
    const std::string_view line = text.substr(0, cr);
    text.remove_prefix(cr + 1);
    if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
    if (line.size() <= 4) continue;
    const std::string_view rest = SkipBlanksAtStart(TrimBlanksAtEnd(line.substr(4)));
    if (rest.empty()) continue;
    const std::size_t space = rest.find(' ');
    if (space == std::string_view::npos) {
      keywords.emplace_back(rest);
      params.emplace_back();
    } else {
      keywords.emplace_back(TrimBlanksAtEnd(rest.substr(0, space)));
      params.emplace_back(SkipBlanksAtStart(rest.substr(space + 1)));
    }
  }
}

}  // namespace

bool SmtpSession::ReadReply(int expectedCode) {
  lastReplyCode = -1;
  replyKeywords.clear();
  replyParams.clear();
  lastErrorText.clear();

  ReplyBuffer reply;
  const ReadEnd end = CollectReply(channel, timeoutMs, reply);
  switch (end) {
    case ReadEnd::kComplete:
      lastReplyCode = ParseCode(reply.CodeBytes());
      SplitLines(reply.Text(), replyKeywords, replyParams);
      break;
    case ReadEnd::kSilence:
    case ReadEnd::kClosed:  // no more can come: reported as the silence it would become
      lastErrorText = "接收数据超时!";
      break;
    case ReadEnd::kNetworkError:
    case ReadEnd::kTooLong:
      lastErrorText = "网络出错!";
      break;
  }

  // The words of the last line, else the bytes as received; an overlong
  // reply keeps its short failure text.
  if (!replyKeywords.empty()) {
    lastErrorText = replyKeywords.back();
    if (!replyParams.back().empty()) lastErrorText.append(" ").append(replyParams.back());
  } else if (!reply.Empty() && end != ReadEnd::kTooLong) {
    lastErrorText = reply.Text();
  }

  if (end == ReadEnd::kComplete && lastReplyCode == expectedCode) return true;
  if (lastErrorText.empty()) {
    lastErrorText = lastReplyCode == -1 ? "等待SMTP邮件服务器响应失败!" : "SMTP邮件服务器返回失败信息!";
  }
  return false;
}

std::optional<TextValue> SmtpSession::FindReplyKeyword(std::string_view keyword) const {
  for (std::size_t i = 0; i < replyKeywords.size(); ++i) {
    if (EqualsIgnoringAsciiCase(replyKeywords[i], keyword)) return replyParams[i];
  }
  return std::nullopt;
}

bool HasWord(std::string_view list, std::string_view word) {
  for (list = SkipBlanksAtStart(list); !list.empty(); list = SkipBlanksAtStart(list)) {
    const auto end = std::find_if(list.begin(), list.end(), IsBlank);
    const std::size_t length = static_cast<std::size_t>(end - list.begin());
    if (EqualsIgnoringAsciiCase(list.substr(0, length), word)) return true;
    list.remove_prefix(length);
  }
  return false;
}

}  // namespace smtp
