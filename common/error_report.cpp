#include "common/error_report.h"

#include "platform/system_error.h"

namespace {

std::wstring NormaliseText(const std::wstring& text, const std::wstring& detail) {
  std::wstring result = text.empty() ? std::wstring(L"Oops, Unknown error.") : text;
  if (!detail.empty()) {
    result += L' ';
    result += detail;
  }
  return result;
}

std::wstring NormaliseCaption(const std::wstring& caption) {
  return caption.empty() ? std::wstring(L"Ошибка.") : caption;
}

unsigned NormaliseStyle(unsigned styleKind) {
  if (styleKind == 1 || styleKind == mbox::kIconWarning) return mbox::kIconWarning;
  if (styleKind == mbox::kIconInformation) return mbox::kIconInformation;
  return mbox::kIconError;
}

}  // namespace

CMBoxExeption::CMBoxExeption(const std::wstring& text, const std::wstring& caption,
                             const unsigned& styleKind)
    : text(NormaliseText(text, {})),
      caption(NormaliseCaption(caption)),
      style(NormaliseStyle(styleKind)) {}

CMBoxExeption::CMBoxExeption(const std::wstring& text, const std::wstring& caption,
                             const std::wstring& detail, const unsigned& styleKind)
    : text(NormaliseText(text, detail)),
      caption(NormaliseCaption(caption)),
      style(NormaliseStyle(styleKind)) {}

CMBoxExeption::CMBoxExeption(const unsigned long& systemErrorCode, const std::wstring& caption,
                             const unsigned& styleKind)
    : text(NormaliseText(orvel::SystemErrorText(systemErrorCode), {})),
      caption(NormaliseCaption(caption)),
      style(NormaliseStyle(styleKind)) {}

int CMBoxExeption::Show(orvel::IDesktop& desktop, orvel::WindowHandle owner) const {
  return desktop.ShowMessage(owner, text, caption, style);
}

namespace orvel {

int ShowCaughtFailure(IDesktop& desktop, WindowHandle owner, const std::wstring& lastResortText) {
  try {
    throw;
  } catch (const CMBoxExeption& box) {
    return box.Show(desktop, owner);
  } catch (const TaskInterrupted&) {
    return InterruptedBox().Show(desktop, owner);
  } catch (...) {
    return CMBoxExeption(lastResortText, L"Ошибка.", mbox::kIconError).Show(desktop, owner);
  }
}

CMBoxExeption InterruptedBox() {
  return CMBoxExeption(L"interrupted: the task was stopped where it was", L"orvelctl",
                       mbox::kIconWarning);
}

}  // namespace orvel
