#pragma once
// The application module: the program's instance handle and the message loop of each UI thread.

#include <windows.h>

#include <map>
#include <mutex>

namespace fw {

class CMessageLoop;

class CAppModule {
 public:
  HRESULT Init(HINSTANCE instance);
  void Term();

  HINSTANCE GetResourceInstance() const { return m_instance; }

  BOOL AddMessageLoop(CMessageLoop* loop);
  BOOL RemoveMessageLoop();
  // The loop registered for the thread, the calling thread by default; null when there is none.
  CMessageLoop* GetMessageLoop(DWORD threadId = ::GetCurrentThreadId()) const;

 private:
  HINSTANCE m_instance = nullptr;
  mutable std::mutex m_lock;
  std::map<DWORD, CMessageLoop*> m_loops;
};

}  // namespace fw
