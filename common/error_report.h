#pragma once
// The one error object of the program: a ready-made message box (text, caption, style) thrown by
// value from deep inside a task and shown unchanged by whoever catches it.

#include <string>

#include "common/desktop.h"

class CMBoxExeption {
 public:
  // Form 1: text, caption, style kind.
  CMBoxExeption(const std::wstring& text, const std::wstring& caption, const unsigned& styleKind);
  // Form 2: as form 1; a non-empty detail is appended after one space.
  CMBoxExeption(const std::wstring& text, const std::wstring& caption, const std::wstring& detail,
                const unsigned& styleKind);
  // Form 3: the system's description of an OS error code (see platform/system_error.h).
  CMBoxExeption(const unsigned long& systemErrorCode, const std::wstring& caption,
                const unsigned& styleKind);

  const std::wstring& Text() const { return text; }
  const std::wstring& Caption() const { return caption; }
  unsigned Style() const { return style; }

  // Shows the box through the desktop seam and returns the button pressed.
  int Show(orvel::IDesktop& desktop, orvel::WindowHandle owner) const;

 private:
  std::wstring text;
  std::wstring caption;
  unsigned style;
};

namespace orvel {

// Called inside a catch block: shows what was caught, a CMBoxExeption as it is and anything else
// as the caller's last-resort box (lastResortText, "Ошибка.", the error icon), owned by owner.
// Returns the button pressed.
int ShowCaughtFailure(IDesktop& desktop, WindowHandle owner, const std::wstring& lastResortText);

// Thrown at a task's next wait once its run is told to stop at once (orvelctl's second Ctrl-C): the
// task ends where it is, its temporary files removed by their owners on the way out, its records
// kept. ShowCaughtFailure shows it as the box InterruptedBox().
struct TaskInterrupted {};
CMBoxExeption InterruptedBox();

}  // namespace orvel
