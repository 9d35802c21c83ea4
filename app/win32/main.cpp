// Start-up of the Windows program: the program's folder becomes the current
// directory, the window is made and filled, and the message loop runs.
#include <windows.h>
#include <commctrl.h>

#include "commands.h"
#include "main_window.h"
#include "program_folder.h"
#include "settings_file.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  platform::EnterProgramFolder();
  // The manifest asks for version 6 of the common controls, which draw the
  // controls in the system's visual style once the library is initialised.
  INITCOMMONCONTROLSEX commonControls{sizeof commonControls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&commonControls);

  MainWindow window({app::LoadSettings, app::SaveSettings, app::OnConnectClicked,
                     app::OnSendClicked});
  if (!window.Create(instance)) {
    MessageBoxA(nullptr, "载入启动窗口失败", "信息：", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    return -1;
  }
  window.Start();
  window.RunMessageLoop();
  return 0;
}
