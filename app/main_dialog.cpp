#include "app/main_dialog.h"

#include <commctrl.h>

#include "app/task_runner.h"

namespace {
constexpr wchar_t kCloseQuestion[] =
    L"Дождитесь завершение работы задачи.\n"
    L"Вынужденное завершение задачи может привести к некорректной работе прибора или выходу его из "
    L"строя.\n"
    L"Продолжить завершение работы программы?";
constexpr wchar_t kCloseCaption[] = L"Внимание!";
constexpr UINT kCloseQuestionStyle = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
static_assert(kCloseQuestionStyle == 0x124);

// The exit code of a normal close: the number of the message that closed the dialog.
constexpr int kExitCodeClosed = WM_CLOSE;
static_assert(kExitCodeClosed == 16);

HICON LoadIconSized(HINSTANCE instance, int widthMetric, int heightMetric) {
  return static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                         ::GetSystemMetrics(widthMetric),
                                         ::GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}
}  // namespace

CMainDlg::CMainDlg(fw::CAppModule& module) : m_module(module), m_session(m_desktop, m_clock) {}

CMainDlg::~CMainDlg() = default;

BOOL CMainDlg::ProcessWindowMessage(HWND, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return TRUE;
    case WM_DESTROY:
      result = OnDestroy();
      return TRUE;
    case WM_CLOSE:
      result = OnClose();
      return TRUE;
    case WM_TASK_DONE:
      result = OnTaskDone();
      return TRUE;
    case WM_COMMAND:
      break;
    default:
      return FALSE;
  }
  const WORD id = LOWORD(wParam);
  const WORD code = HIWORD(wParam);
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_READ_CONFIG:
        result = OnReadConfig();
        return TRUE;
      case IDC_WRITE_CONFIG:
        result = OnWriteConfig();
        return TRUE;
      case IDC_WRITE_PROGRAM:
        result = OnWriteProgram();
        return TRUE;
      case IDC_UPDATE_DEVICE:
        result = OnUpdateDevice();
        return TRUE;
      default:
        break;
    }
  }
  if (id == IDC_PORT && code == EN_CHANGE) {
    result = OnPortChange(code, id, reinterpret_cast<HWND>(lParam));
    return TRUE;
  }
  return FALSE;
}

BOOL CMainDlg::PreTranslateMessage(MSG* pMsg) { return ::IsDialogMessageW(m_hWnd, pMsg); }

BOOL CMainDlg::OnIdle() { return FALSE; }

LRESULT CMainDlg::OnInitDialog() {
  m_hTaskThread = nullptr;
  CenterWindow();

  const HINSTANCE instance = m_module.GetResourceInstance();
  SendMessage(WM_SETICON, ICON_BIG,
              reinterpret_cast<LPARAM>(LoadIconSized(instance, SM_CXICON, SM_CYICON)));
  SendMessage(WM_SETICON, ICON_SMALL,
              reinterpret_cast<LPARAM>(LoadIconSized(instance, SM_CXSMICON, SM_CYSMICON)));

  m_hProgress = GetDlgItem(IDC_PROGRESS);
  m_hAddress = GetDlgItem(IDC_DEVICE_ADDRESS);
  m_hPort = GetDlgItem(IDC_PORT);
  m_hInterfaces = GetDlgItem(IDC_INTERFACES);

  LoadSettings();

  if (m_hProgress) ::SendMessageW(m_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));

  if (fw::CMessageLoop* loop = m_module.GetMessageLoop()) {
    loop->AddMessageFilter(this);
    loop->AddIdleHandler(this);
  }
  UIAddChildWindowContainer(m_hWnd);

  m_session.m_hOwner = m_hWnd;
  m_session.m_progress.Attach(m_hProgress);
  m_session.m_hStatus = GetDlgItem(IDC_STATUS);
  // The system puts the focus on the first control in tab order, button 1000.
  return TRUE;
}

LRESULT CMainDlg::OnClose() {
  if (m_hTaskThread) {
    const int answer = ::MessageBoxW(m_hWnd, kCloseQuestion, kCloseCaption, kCloseQuestionStyle);
    // No (the default answer), or a question that could not be shown: the task goes on.
    if (answer != IDYES) return 0;
    // Saved while the worker still runs: a thread stopped inside the heap or a file stream keeps
    // their locks for good, and the save needs both. The controls are disabled during a task, so
    // the values are those of the moment of the question either way.
    SaveSettings();
    // The task may have ended while the question was open; its handle is then already closed and
    // the close goes on as one without a task.
    if (m_hTaskThread) StopTaskAndExit();
  } else {
    SaveSettings();
  }
  DestroyWindow();
  ::PostQuitMessage(kExitCodeClosed);
  return 0;
}

void CMainDlg::StopTaskAndExit() {
  // A thread stopped wherever it stands may hold a lock of the heap, the C runtime, the loader or
  // the system's memory manager for good; whatever takes such a lock afterwards waits forever.
  // Destroying a window frees memory, and the normal way out runs destructors, exit handlers and
  // the DLLs' detach code, all of which can take them. So the dialog goes while the worker still
  // runs (its calls to the dialog's controls then simply fail), and once the worker is stopped the
  // process ends at once, with nothing run in between but the stop itself. The settings file is
  // already closed, so the system holds everything that was written to it.
  DestroyWindow();
  ::TerminateThread(m_hTaskThread, 0);
  ::CloseHandle(m_hTaskThread);
  m_hTaskThread = nullptr;
  ::TerminateProcess(::GetCurrentProcess(), kExitCodeClosed);
  // TerminateProcess does not return for the calling process; should it fail, the close goes on
  // the normal way.
}

LRESULT CMainDlg::OnDestroy() {
  if (fw::CMessageLoop* loop = m_module.GetMessageLoop()) {
    loop->RemoveMessageFilter(this);
    loop->RemoveIdleHandler(this);
  }
  return 0;
}
