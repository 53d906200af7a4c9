#pragma once
// The message loop of a UI thread: offers every message to the registered filters before it is
// translated and dispatched, and calls the idle handlers whenever the queue runs dry.

#include <windows.h>

#include <vector>

namespace fw {

class CMessageFilter {
 public:
  virtual BOOL PreTranslateMessage(MSG* pMsg) = 0;

 protected:
  ~CMessageFilter() = default;
};

class CIdleHandler {
 public:
  virtual BOOL OnIdle() = 0;

 protected:
  ~CIdleHandler() = default;
};

class CMessageLoop {
 public:
  void AddMessageFilter(CMessageFilter* filter);
  void RemoveMessageFilter(CMessageFilter* filter);
  void AddIdleHandler(CIdleHandler* handler);
  void RemoveIdleHandler(CIdleHandler* handler);

  // Runs until WM_QUIT and returns its wParam.
  int Run();

  // True when a filter took the message; it is then neither translated nor dispatched.
  BOOL PreTranslateMessage(MSG* pMsg);
  BOOL OnIdle();

 private:
  // Filters and handlers may (un)register themselves while being called, so both are walked over
  // a copy.
  std::vector<CMessageFilter*> m_filters;
  std::vector<CIdleHandler*> m_idleHandlers;
};

}  // namespace fw
