#pragma once

namespace platform {

// Makes the folder that holds the program file the current directory.
bool EnterProgramFolder();

}  // namespace platform
