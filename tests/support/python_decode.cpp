#include "python_decode.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "child_process.h"

namespace test_support {
namespace {

// Writes "name\0value\0" for every header, an empty name, then the body.
constexpr char kScript[] = R"(
import sys, email
from email.header import decode_header, make_header
with open(sys.argv[1], 'rb') as f:
    message = email.message_from_binary_file(f)
out = bytearray()
for name, value in message.items():
    text = str(make_header(decode_header(value)))
    out += name.encode('ascii') + b'\0' + text.encode('gbk') + b'\0'
out += b'\0'
out += message.get_payload(decode=True) or b''
with open(sys.argv[2], 'wb') as f:
    f.write(out)
)";

// Splits the script's output; false when it is cut short.
bool ReadDecoded(const std::string& raw, DecodedMail& mail) {
  std::size_t at = 0;
  while (true) {
    const std::size_t nameEnd = raw.find('\0', at);
    if (nameEnd == std::string::npos) return false;
    if (nameEnd == at) break;
    const std::size_t valueEnd = raw.find('\0', nameEnd + 1);
    if (valueEnd == std::string::npos) return false;
    mail.headers.emplace_back(raw.substr(at, nameEnd - at),
                              raw.substr(nameEnd + 1, valueEnd - nameEnd - 1));
    at = valueEnd + 1;
  }
  mail.body = raw.substr(at + 1);
  return true;
}

}  // namespace

std::optional<DecodedMail> DecodeMailWithPython(std::string_view mail) {
  std::string folder = std::filesystem::temp_directory_path() / "python_decode.XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return std::nullopt;
  const std::string input = folder + "/mail.eml";
  const std::string output = folder + "/decoded";
  std::optional<DecodedMail> result;
  {
    std::ofstream(input, std::ios::binary).write(mail.data(), mail.size());
  }
  if (RunCommand({"/usr/bin/python3", "-c", kScript, input, output})) {
    std::ifstream in(output, std::ios::binary);
    const std::string raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    DecodedMail decoded;
    if (ReadDecoded(raw, decoded)) result = std::move(decoded);
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return result;
}

}  // namespace test_support
