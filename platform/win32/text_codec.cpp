#include "text_codec.h"

#include <windows.h>

#include <algorithm>
#include <climits>

// The program's texts are in the ANSI code page of the system (936, GBK, on
// the systems it is made for); UTF-16 is the step between it and UTF-8.
namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// The Windows conversions count in int: longer runs go in pieces.
constexpr std::size_t kMaxRun = INT_MAX / 4;

// A strict conversion of one piece; false when a byte sequence is undefined.
bool WidenStrictly(std::string_view ansi, std::wstring& wide) {
  const int size = static_cast<int>(ansi.size());
  const int count = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, nullptr, 0);
  if (count <= 0) return false;
  const std::size_t start = wide.size();
  wide.resize(start + static_cast<std::size_t>(count));
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), size, wide.data() + start, count);
  return true;
}

// ANSI to UTF-16, every byte sequence the code page does not define becoming
// U+FFFD. Only a text that fails the conversion as a whole is walked
// character by character; an undefined pair gives up its lead byte alone, so
// the byte after it is read again.
std::wstring WidenAnsi(std::string_view ansi) {
  std::wstring wide;
  if (ansi.empty() || (ansi.size() <= kMaxRun && WidenStrictly(ansi, wide))) return wide;
  wide.reserve(ansi.size());
  for (std::size_t i = 0; i < ansi.size();) {
    const bool pair = IsDBCSLeadByte(static_cast<BYTE>(ansi[i])) && i + 1 < ansi.size();
    if (pair && WidenStrictly(ansi.substr(i, 2), wide)) {
      i += 2;
    } else {
      if (pair || !WidenStrictly(ansi.substr(i, 1), wide)) wide += kReplacement;
      i += 1;
    }
  }
  return wide;
}

// UTF-8 to UTF-16 with each maximal ill-formed subsequence replaced by one
// U+FFFD (as the Unicode standard recommends). Characters beyond the BMP
// become U+FFFD as well: the ANSI code page holds none of them, and one
// character must give one "?".
std::wstring WidenUtf8ForAnsi(std::string_view utf8) {
  std::wstring wide;
  wide.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i++]);
    if (lead < 0x80) {
      wide += static_cast<wchar_t>(lead);
      continue;
    }
    int following = 0;
    char32_t code = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the next byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      following = 1, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      following = 2, code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      following = 3, code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
      wide += kReplacement;
      continue;
    }
    bool complete = true;
    for (int k = 0; k < following; ++k, low = 0x80, high = 0xBF) {
      const auto next = i < utf8.size() ? static_cast<unsigned char>(utf8[i]) : 0;
      if (i >= utf8.size() || next < low || next > high) {
        complete = false;  // the byte that does not fit starts anew
        break;
      }
      code = (code << 6) | (next & 0x3F);
      ++i;
    }
    wide += complete && code <= 0xFFFF ? static_cast<wchar_t>(code) : kReplacement;
  }
  return wide;
}

// Appends UTF-16 narrowed to codePage; what the ANSI code page cannot hold
// becomes "?" (no best-fit look-alikes).
void AppendNarrowed(std::string& out, UINT codePage, std::wstring_view wide) {
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  while (!wide.empty()) {
    std::size_t run = std::min(wide.size(), kMaxRun);
    if (run < wide.size() && IS_HIGH_SURROGATE(wide[run - 1])) --run;  // keep pairs whole
    const int size = static_cast<int>(run);
    const int count =
        WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, fallback, nullptr);
    if (count > 0) {
      const std::size_t start = out.size();
      out.resize(start + static_cast<std::size_t>(count));
      WideCharToMultiByte(codePage, flags, wide.data(), size, out.data() + start, count, fallback,
                          nullptr);
    }
    wide.remove_prefix(run);
  }
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string utf8;
  AppendNarrowed(utf8, CP_UTF8, WidenAnsi(gbk));
  return utf8;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::string gbk;
  AppendNarrowed(gbk, CP_ACP, WidenUtf8ForAnsi(utf8));
  return gbk;
}

}  // namespace platform
