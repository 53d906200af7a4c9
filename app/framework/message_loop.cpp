#include "app/framework/message_loop.h"

#include <algorithm>

namespace fw {

namespace {
template <typename T>
void Remove(std::vector<T*>& items, T* item) {
  items.erase(std::remove(items.begin(), items.end(), item), items.end());
}

// Messages that come in bursts and say nothing new about the program's state: no idle round after
// them, as otherwise every mouse move would run the idle handlers.
bool IsIdleMessage(const MSG& msg) {
  switch (msg.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case 0x0118:  // WM_SYSTIMER, the caret's blink
      return false;
    default:
      return true;
  }
}
}  // namespace

void CMessageLoop::AddMessageFilter(CMessageFilter* filter) { m_filters.push_back(filter); }
void CMessageLoop::RemoveMessageFilter(CMessageFilter* filter) { Remove(m_filters, filter); }
void CMessageLoop::AddIdleHandler(CIdleHandler* handler) { m_idleHandlers.push_back(handler); }
void CMessageLoop::RemoveIdleHandler(CIdleHandler* handler) { Remove(m_idleHandlers, handler); }

BOOL CMessageLoop::PreTranslateMessage(MSG* pMsg) {
  const auto filters = m_filters;
  for (auto it = filters.rbegin(); it != filters.rend(); ++it) {
    if ((*it)->PreTranslateMessage(pMsg)) return TRUE;
  }
  return FALSE;
}

BOOL CMessageLoop::OnIdle() {
  const auto handlers = m_idleHandlers;
  for (CIdleHandler* handler : handlers) handler->OnIdle();
  return FALSE;
}

int CMessageLoop::Run() {
  MSG msg{};
  bool doIdle = true;
  for (;;) {
    while (doIdle && !PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle()) doIdle = false;
    }
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) continue;  // an invalid window handle in a filter; nothing to dispatch
    if (!got) break;          // WM_QUIT
    if (!PreTranslateMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (IsIdleMessage(msg)) doIdle = true;
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace fw
