#pragma once
// The one error object of the program: a ready-made message box (text, caption, style) thrown by
// value from deep inside a task and shown unchanged by whoever catches it.

#include <string>

namespace orvel {
class IDesktop;
using WindowHandle = void*;
}  // namespace orvel

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

class CMBoxExeption {
 public:
  // Form 1: text, caption, style kind.
  CMBoxExeption(const std::wstring& text, const std::wstring& caption, const unsigned& styleKind);
  // Form 2: as form 1; a non-empty detail is appended after one space.
  CMBoxExeption(const std::wstring& text, const std::wstring& caption, const std::wstring& detail,
                const unsigned& styleKind);
  // Form 3: the system's description of an OS error code (FormatMessageW on Windows).
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
// The system's own text for an OS error code; empty when it has none.
std::wstring SystemErrorText(unsigned long code);
}  // namespace orvel
