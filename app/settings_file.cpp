#include "settings_file.h"

#include <array>

#include "desktop_folder.h"
#include "file_attributes.h"
#include "profile.h"

namespace app {
namespace {

// The file name is a name in the file system, so UTF-8; the section and key
// names are the file's content, so GBK like every literal of this file.
constexpr std::u8string_view kFileName = u8"邮件发送配置.ini";
constexpr std::string_view kSection = "邮箱配置";
constexpr std::size_t kValueCapacity = 10240;

struct Setting {
  std::string_view key;
  Control editBox;
};

constexpr std::array<Setting, 4> kSettings{{
    {"SMTP地址", Control::编辑框_SMTP地址},
    {"SMTP端口", Control::编辑框_smtp端口},
    {"账号", Control::编辑框_发信账号},
    {"密码", Control::编辑框_发信密码},
}};

std::string_view SkipLeadingControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) >= 1 &&
         static_cast<unsigned char>(text.front()) <= 32) {
    text.remove_prefix(1);
  }
  return text;
}

}  // namespace

std::string SettingsPath() {
  std::string folder = platform::DesktopFolder();
  // Without a desktop folder the file lies in the root folder.
  if (folder.empty()) folder.push_back('/');
  return folder.append(reinterpret_cast<const char*>(kFileName.data()), kFileName.size());
}

TextValue ReadProfileValue(const std::string& fileName, std::string_view section,
                           std::string_view key, std::string_view defaultValue) {
  const std::string_view file = SkipLeadingControls(fileName);
  section = SkipLeadingControls(section);
  key = SkipLeadingControls(key);
  if (file.empty() || section.empty() || key.empty()) return {};
  return platform::ReadProfileString(std::string(file), section, key, defaultValue, kValueCapacity);
}

void LoadSettings(WindowOperations& window) {
  for (const Setting& setting : kSettings) {
    window.SetText(setting.editBox, ReadProfileValue(SettingsPath(), kSection, setting.key));
  }
}

void SaveSettings(WindowOperations& window) {
  // The results are not looked at: a settings file that cannot be written
  // must not stop the close.
  for (const Setting& setting : kSettings) {
    platform::WriteProfileString(SettingsPath(), kSection, setting.key, window.GetText(setting.editBox));
  }
  platform::SetFileAttributes(SettingsPath(), platform::kAttributeHidden);
}

}  // namespace app
