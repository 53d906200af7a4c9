// The task runner: starts each task on a worker thread, copies the connection settings into the
// session for it, and gives the controls back when the worker reports that it is done.

#include <windows.h>

#include <commctrl.h>
#include <process.h>

#include <string>

#include "app/main_dialog.h"
#include "app/rules/port_text.h"
#include "app/rules/settings_record.h"
#include "app/task_runner.h"
#include "app/window_text.h"

namespace {

constexpr wchar_t kErrorCaption[] = L"Ошибка.";
constexpr wchar_t kThreadErrorText[] = L"Ошибка потока:0x000A";
constexpr wchar_t kUpdateThreadErrorText[] = L"Ошибка потока:0x0023";
constexpr wchar_t kTaskNotStartedText[] =
    L"Не удалось запустить задачу: система не создала рабочий поток.\n"
    L"Закройте другие программы и повторите попытку.";

// The seven input controls, in the order in which they are switched.
constexpr int kInputControls[] = {IDC_DEVICE_ADDRESS, IDC_PORT,         IDC_INTERFACES,
                                  IDC_READ_CONFIG,    IDC_WRITE_CONFIG, IDC_WRITE_PROGRAM,
                                  IDC_UPDATE_DEVICE};

}  // namespace

void CMainDlg::EnableControls(bool enable) {
  for (int id : kInputControls) ::EnableWindow(GetDlgItem(id), enable ? TRUE : FALSE);
}

LRESULT CMainDlg::OnReadConfig() {
  StartTask(IDC_READ_CONFIG, &ReadConfigThread);
  return 0;
}

LRESULT CMainDlg::OnWriteConfig() {
  StartTask(IDC_WRITE_CONFIG, &WriteConfigThread);
  return 0;
}

LRESULT CMainDlg::OnWriteProgram() {
  StartTask(IDC_WRITE_PROGRAM, &WriteProgramThread);
  return 0;
}

LRESULT CMainDlg::OnUpdateDevice() {
  StartTask(IDC_UPDATE_DEVICE, &UpdateThread);
  return 0;
}

void CMainDlg::StartTask(int button, unsigned(__stdcall* threadProc)(void*)) {
  if (m_hTaskThread) return;  // a task is running
  m_taskButton = button;
  EnableControls(false);
  ::SendMessageW(m_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  ::SendMessageW(m_hProgress, PBM_SETPOS, 0, 0);
  m_hTaskThread =
      reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, threadProc, this, 0, nullptr));
  if (!m_hTaskThread) {
    // No worker, so no WM_TASK_DONE will come: give the controls back here.
    EnableControls(true);
    RestoreTaskFocus();
    ::MessageBoxW(m_hWnd, kTaskNotStartedText, kErrorCaption, MB_ICONERROR);
  }
}

template <typename Task>
unsigned CMainDlg::RunTask(void* dialog, const wchar_t* lastResortText, Task task) {
  auto* self = static_cast<CMainDlg*>(dialog);
  const HWND hDialog = self->m_hWnd;
  try {
    self->PrepareConnection();
    task(self->m_session);
  } catch (...) {
    ::MessageBoxW(hDialog, lastResortText, kErrorCaption, MB_ICONERROR);
  }
  ::PostMessageW(hDialog, WM_TASK_DONE, 0, 0);
  return 0;
}

unsigned __stdcall CMainDlg::ReadConfigThread(void* dialog) {
  return RunTask(dialog, kThreadErrorText,
                 [](CDeviceSession& session) { session.ReadConfiguration(); });
}

unsigned __stdcall CMainDlg::WriteConfigThread(void* dialog) {
  return RunTask(dialog, kThreadErrorText, [](CDeviceSession& session) {
    session.WriteConfiguration();
    // The device is asked to restart whatever the write came to.
    session.RestartDevice();
  });
}

unsigned __stdcall CMainDlg::WriteProgramThread(void* dialog) {
  return RunTask(dialog, kThreadErrorText, [](CDeviceSession& session) { session.WriteProgram(); });
}

unsigned __stdcall CMainDlg::UpdateThread(void* dialog) {
  return RunTask(dialog, kUpdateThreadErrorText,
                 [](CDeviceSession& session) { session.UpdateDevice(); });
}

void CMainDlg::PrepareConnection() {
  m_session.m_timeLimit = 40;
  // Host order, first field in the most significant byte; blank fields count as 0.
  DWORD address = 0;
  ::SendMessageW(m_hAddress, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  m_session.m_deviceAddress = address;
  m_session.m_port = orvel::app::PortFromText(WindowText(m_hPort, 5));
  m_session.m_localAddress = orvel::app::InterfaceAddressFromText(WindowText(m_hInterfaces, 15));
  m_session.BeginTask();
}

LRESULT CMainDlg::OnTaskDone() {
  if (m_hTaskThread) {
    // Short: the worker posted this message as its last act.
    ::WaitForSingleObject(m_hTaskThread, INFINITE);
    ::CloseHandle(m_hTaskThread);
    m_hTaskThread = nullptr;
  }
  ::SetWindowTextW(static_cast<HWND>(m_session.m_hStatus), kIdleStatusText);
  m_session.m_progress.SetPos(0);
  EnableControls(true);
  RestoreTaskFocus();
  return 0;
}

void CMainDlg::RestoreTaskFocus() {
  // Disabling the focused button took the focus away; without this the keyboard would reach no
  // control until the mouse picks one. WM_NEXTDLGCTL moves it the way the dialog manager does.
  SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_taskButton)), TRUE);
}
