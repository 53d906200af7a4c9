#pragma once
// The seam between the tasks and the desktop. Task code never calls the window system directly:
// the Win32 side shows real boxes and dialogs, the console side prints and asks on a terminal, and
// tests use a scripted side that records every call.

#include <cstdint>
#include <optional>
#include <string>

// Message-box styles and answers, with the values of the Win32 constants, so that the core can be
// built and tested without <windows.h>.
namespace mbox {
constexpr unsigned kIconError = 0x10;
constexpr unsigned kIconQuestion = 0x20;
constexpr unsigned kIconWarning = 0x30;
constexpr unsigned kIconInformation = 0x40;
constexpr unsigned kYesNo = 0x04;
constexpr unsigned kDefButton2 = 0x100;
constexpr int kOk = 1;
constexpr int kCancel = 2;
constexpr int kYes = 6;
constexpr int kNo = 7;
}  // namespace mbox

namespace orvel {

// A window of the desktop (an HWND on Windows); null for none.
using WindowHandle = void*;

struct FileChoice {
  bool save = false;               // save dialog (true) or open dialog (false)
  std::wstring defaultExtension;   // "bin", "hex", "update"
  std::wstring filterDescription;  // "File configuration (*.bin)"
  std::wstring filterPattern;      // "*.bin"
};

class IDesktop {
 public:
  virtual ~IDesktop() = default;

  // MessageBoxW(owner, text, caption, style); returns mbox::kOk, kYes, kNo ...
  virtual int ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                          unsigned style) = 0;
  // The open or save dialog on the calling thread, no owner; nothing on cancel or failure.
  virtual std::optional<std::wstring> ChooseFile(const FileChoice& choice) = 0;
  // PBM_SETRANGE (0..max) and PBM_SETPOS sent to the bar.
  virtual void SetProgressRange(WindowHandle bar, std::uint16_t max) = 0;
  virtual void SetProgressPos(WindowHandle bar, std::uint16_t pos) = 0;
  // SetWindowTextW on the status line.
  virtual void SetStatusText(WindowHandle status, const std::wstring& text) = 0;
};

}  // namespace orvel
