// The program's entry: COM and the common controls around one modeless main dialog and its loop.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/framework/app_module.h"
#include "app/framework/message_loop.h"
#include "app/main_dialog.h"

namespace {

int Run(fw::CAppModule& module, LPWSTR /*commandLine*/, int showCommand) {
  fw::CMessageLoop loop;
  module.AddMessageLoop(&loop);

  int result = 0;
  {
    CMainDlg dialog(module);
    if (dialog.Create(module.GetResourceInstance(), nullptr)) {
      dialog.ShowWindow(showCommand);
      result = loop.Run();
    }
    module.RemoveMessageLoop();
  }
  return result;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
  ::CoInitialize(nullptr);
  ::DefWindowProcW(nullptr, 0, 0, 0);

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES | ICC_INTERNET_CLASSES;
  ::InitCommonControlsEx(&controls);

  fw::CAppModule module;
  module.Init(instance);
  const int result = Run(module, commandLine, showCommand);
  module.Term();
  ::CoUninitialize();
  return result;
}
