#pragma once
// The Win32 side of the desktop seam: real message boxes, the common file dialogs, and messages to
// the progress bar and the status line. Called from the task's worker thread; the window calls are
// handed to the dialog's thread by the system and waited for.

#include "common/desktop.h"

namespace orvel {

class Win32Desktop final : public IDesktop {
 public:
  int ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                  unsigned style) override;
  std::optional<std::wstring> ChooseFile(const FileChoice& choice) override;
  void SetProgressRange(WindowHandle bar, std::uint16_t max) override;
  void SetProgressPos(WindowHandle bar, std::uint16_t pos) override;
  void SetStatusText(WindowHandle status, const std::wstring& text) override;
};

}  // namespace orvel
