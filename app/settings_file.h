#pragma once
#include <string>
#include <string_view>

#include "text_value.h"
#include "window_operations.h"

namespace app {

// The settings file's path, built afresh for each access: the desktop folder
// joined with the file name, in the file system's encoding.
std::string SettingsPath();

// One value of an INI file, at most 10,239 bytes; the empty text when the
// file, section or key is missing or a name is blank.
TextValue ReadProfileValue(const std::string& fileName, std::string_view section,
                           std::string_view key, std::string_view defaultValue = {});

// Fills the four connection boxes from the settings file.
void LoadSettings(WindowOperations& window);
// Writes the four connection boxes to the settings file and makes it private.
void SaveSettings(WindowOperations& window);

}  // namespace app
