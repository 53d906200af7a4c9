#include "app/win32_desktop.h"

#include <windows.h>

#include <commctrl.h>

#include "app/framework/file_dialog.h"

namespace orvel {

namespace {
HWND Hwnd(WindowHandle handle) { return static_cast<HWND>(handle); }

// OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR: an existing file is replaced only
// after the dialog's own question, and the current directory (Settings.ini, Temp\) never moves.
constexpr DWORD kFileDialogFlags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
static_assert(kFileDialogFlags == 14);
}  // namespace

int Win32Desktop::ShowMessage(WindowHandle owner, const std::wstring& text,
                              const std::wstring& caption, unsigned style) {
  return ::MessageBoxW(Hwnd(owner), text.c_str(), caption.c_str(), style);
}

std::optional<std::wstring> Win32Desktop::ChooseFile(const FileChoice& choice) {
  fw::CFileDialog dialog(!choice.save, choice.defaultExtension.c_str(), nullptr, kFileDialogFlags,
                         choice.filterDescription, choice.filterPattern, nullptr);
  // On a worker thread there is no active window, so the dialog has no owner.
  if (dialog.DoModal(::GetActiveWindow()) != IDOK) return std::nullopt;
  return std::wstring(dialog.FileName());
}

void Win32Desktop::SetProgressRange(WindowHandle bar, std::uint16_t max) {
  if (bar) ::SendMessageW(Hwnd(bar), PBM_SETRANGE, 0, MAKELPARAM(0, max));
}

void Win32Desktop::SetProgressPos(WindowHandle bar, std::uint16_t pos) {
  if (bar) ::SendMessageW(Hwnd(bar), PBM_SETPOS, pos, 0);
}

void Win32Desktop::SetStatusText(WindowHandle status, const std::wstring& text) {
  if (status) ::SetWindowTextW(Hwnd(status), text.c_str());
}

}  // namespace orvel
