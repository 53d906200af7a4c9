#pragma once
// The program's one window: a modeless dialog with the connection settings, the four task buttons,
// the progress bar and the status line. It owns the device session that every task runs on.

#include <windows.h>

#include "app/framework/app_module.h"
#include "app/framework/dialog_impl.h"
#include "app/framework/message_loop.h"
#include "app/framework/update_ui.h"
#include "app/res/resource.h"
#include "app/win32_desktop.h"
#include "platform/clock.h"
#include "session/device_session.h"

class CMainDlg : public fw::CDialogImpl<CMainDlg, fw::CWindow>,
                 public fw::CUpdateUI<CMainDlg>,
                 public fw::CMessageFilter,
                 public fw::CIdleHandler {
 public:
  enum { IDD = IDD_MAINDLG };

  explicit CMainDlg(fw::CAppModule& module);
  ~CMainDlg() override;

  BOOL ProcessWindowMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam,
                            LRESULT& result) override;
  void OnFinalMessage(HWND) override {}
  BOOL PreTranslateMessage(MSG* pMsg) override;
  BOOL OnIdle() override;

 private:
  // --- the dialog (main_dialog.cpp) ---
  LRESULT OnInitDialog();
  LRESULT OnClose();
  // The confirmed close during a task: stops the worker and ends the process with exit code 16.
  void StopTaskAndExit();
  LRESULT OnDestroy();

  // --- connection settings (settings.cpp) ---
  void LoadSettings();
  void SaveSettings();
  void FillInterfaceList();
  LRESULT OnPortChange(WORD notifyCode, WORD id, HWND hWndCtl);

  // --- task runner (task_runner.cpp) ---
  void EnableControls(bool enable);
  LRESULT OnReadConfig();
  LRESULT OnWriteConfig();
  LRESULT OnWriteProgram();
  LRESULT OnUpdateDevice();
  LRESULT OnTaskDone();
  void StartTask(int button, unsigned(__stdcall* threadProc)(void*));
  // Gives the keyboard focus back to the button that started the task.
  void RestoreTaskFocus();
  void PrepareConnection();
  static unsigned __stdcall ReadConfigThread(void* dialog);
  static unsigned __stdcall WriteConfigThread(void* dialog);
  static unsigned __stdcall WriteProgramThread(void* dialog);
  static unsigned __stdcall UpdateThread(void* dialog);
  template <typename Task>
  static unsigned RunTask(void* dialog, const wchar_t* lastResortText, Task task);

  fw::CAppModule& m_module;
  HANDLE m_hTaskThread = nullptr;
  // The button that started the running (or last) task; it takes the focus back afterwards.
  int m_taskButton = IDC_READ_CONFIG;
  HWND m_hProgress = nullptr;
  HWND m_hAddress = nullptr;
  HWND m_hPort = nullptr;
  HWND m_hInterfaces = nullptr;
  // Tells the user's change of the port text from the echo of the dialog's own rewrite.
  bool m_portChangeByUser = true;
  orvel::Win32Desktop m_desktop;
  orvel::SteadyClock m_clock;
  CDeviceSession m_session;
};
