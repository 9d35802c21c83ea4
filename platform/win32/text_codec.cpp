#include "text_codec.h"

#include <windows.h>

#include <climits>

// The program's texts are in the ANSI code page of the system (936, GBK, on
// the systems it is made for); UTF-16 is the step between it and UTF-8.
namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// Runs longer than an int are converted piece by piece by the callers' loops.
constexpr std::size_t kMaxRun = INT_MAX / 4;

std::wstring Widen(UINT codePage, DWORD flags, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int count = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (count <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), count);
  return wide;
}

void AppendNarrowed(std::string& out, UINT codePage, std::wstring_view wide) {
  if (wide.empty()) return;
  // The default character and best-fit mapping cannot be asked of UTF-8.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int size = static_cast<int>(wide.size());
  const int count =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
  if (count <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(count));
  WideCharToMultiByte(codePage, flags, wide.data(), size, out.data() + start, count, fallback,
                      nullptr);
}

// ANSI to UTF-16 with every byte sequence the code page does not define
// turned into U+FFFD: the whole run is tried strictly first, and only a run
// that fails is walked character by character.
std::wstring WidenAnsi(std::string_view ansi) {
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(),
                          static_cast<int>(ansi.size()), nullptr, 0) > 0) {
    return Widen(CP_ACP, MB_ERR_INVALID_CHARS, ansi);
  }
  std::wstring wide;
  wide.reserve(ansi.size());
  std::size_t i = 0;
  while (i < ansi.size()) {
    const std::size_t length =
        IsDBCSLeadByte(static_cast<BYTE>(ansi[i])) && i + 1 < ansi.size() ? 2 : 1;
    const std::wstring character = Widen(CP_ACP, MB_ERR_INVALID_CHARS, ansi.substr(i, length));
    if (!character.empty()) {
      wide += character;
    } else {
      wide += kReplacement;
    }
    i += length;
  }
  return wide;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string utf8;
  utf8.reserve(gbk.size() * 3 / 2);
  while (!gbk.empty()) {
    // A cut never divides a double-byte character.
    std::size_t run = std::min(gbk.size(), kMaxRun);
    if (run < gbk.size()) {
      std::size_t lead = 0;
      while (lead < run) lead += IsDBCSLeadByte(static_cast<BYTE>(gbk[lead])) ? 2 : 1;
      run = std::min(lead, gbk.size());
    }
    AppendNarrowed(utf8, CP_UTF8, WidenAnsi(gbk.substr(0, run)));
    gbk.remove_prefix(run);
  }
  return utf8;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::string gbk;
  gbk.reserve(utf8.size());
  while (!utf8.empty()) {
    // A cut never divides a UTF-8 sequence: it backs off continuation bytes.
    std::size_t run = std::min(utf8.size(), kMaxRun);
    while (run < utf8.size() && run > 0 && (static_cast<unsigned char>(utf8[run]) & 0xC0) == 0x80)
      --run;
    if (run == 0) run = std::min(utf8.size(), kMaxRun);
    // Invalid UTF-8 becomes U+FFFD here, which the ANSI side turns into "?".
    AppendNarrowed(gbk, CP_ACP, Widen(CP_UTF8, 0, utf8.substr(0, run)));
    utf8.remove_prefix(run);
  }
  return gbk;
}

}  // namespace platform
