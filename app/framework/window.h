#pragma once
// A thin handle wrapper for a window the program does not own the lifetime of.

#include <windows.h>

namespace fw {

class CWindow {
 public:
  CWindow() = default;
  explicit CWindow(HWND hWnd) : m_hWnd(hWnd) {}

  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  BOOL ShowWindow(int showCommand) { return ::ShowWindow(m_hWnd, showCommand); }
  BOOL DestroyWindow() { return ::DestroyWindow(m_hWnd); }
  BOOL IsWindow() const { return ::IsWindow(m_hWnd); }
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, msg, wParam, lParam);
  }

  // Centres the window on the work area of its monitor (it has neither parent nor owner).
  BOOL CenterWindow() {
    RECT window{};
    if (!::GetWindowRect(m_hWnd, &window)) return FALSE;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
      return FALSE;
    }
    const RECT& area = monitor.rcWork;
    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = area.left + (area.right - area.left - width) / 2;
    LONG y = area.top + (area.bottom - area.top - height) / 2;
    // Keep the caption reachable when the window is larger than the work area.
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    return ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  HWND m_hWnd = nullptr;
};

}  // namespace fw
