#pragma once
// Dialog base: creates a modeless dialog from a template and routes its messages to the derived
// class's message map (ProcessWindowMessage). T names the template with its IDD.

#include <windows.h>

#include "app/framework/window.h"

namespace fw {

template <class T, class TBase = CWindow>
class CDialogImpl : public TBase {
 public:
  CDialogImpl() = default;
  CDialogImpl(const CDialogImpl&) = delete;
  CDialogImpl& operator=(const CDialogImpl&) = delete;

  // The message map: true when the message was handled; result is then the message's result.
  virtual BOOL ProcessWindowMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result) = 0;
  virtual ~CDialogImpl() = default;
  virtual DLGPROC GetDialogProc() { return &DialogProc; }
  // Called once the window is gone (after WM_NCDESTROY).
  virtual void OnFinalMessage(HWND) {}

  // A modeless dialog from template T::IDD; null when it cannot be created.
  HWND Create(HINSTANCE instance, HWND parent, LPARAM initParam = 0) {
    m_initParam = initParam;
    return ::CreateDialogParamW(instance, MAKEINTRESOURCEW(T::IDD), parent, GetDialogProc(),
                                reinterpret_cast<LPARAM>(this));
  }

  // The lParam that Create was given, as WM_INITDIALOG's lParam reaches the message map.
  LPARAM InitParam() const { return m_initParam; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CDialogImpl*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (msg == WM_INITDIALOG) {
      // The first message of ours; earlier ones (WM_SETFONT ...) take the default processing.
      self = reinterpret_cast<CDialogImpl*>(lParam);
      ::SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
      self->m_hWnd = hWnd;
      lParam = self->m_initParam;
    }
    if (!self) return FALSE;

    LRESULT result = 0;
    const BOOL handled = self->ProcessWindowMessage(hWnd, msg, wParam, lParam, result);
    if (msg == WM_NCDESTROY) {
      ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
      self->m_hWnd = nullptr;
      self->OnFinalMessage(hWnd);
      return handled;
    }
    if (!handled) return FALSE;
    switch (msg) {
      // These return their result directly; for all others it goes through DWLP_MSGRESULT.
      case WM_INITDIALOG:
      case WM_COMPAREITEM:
      case WM_VKEYTOITEM:
      case WM_CHARTOITEM:
      case WM_QUERYDRAGICON:
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC:
        return static_cast<INT_PTR>(result);
      default:
        ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
  }

  LPARAM m_initParam = 0;
};

}  // namespace fw
