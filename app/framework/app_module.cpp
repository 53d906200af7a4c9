#include "app/framework/app_module.h"

namespace fw {

HRESULT CAppModule::Init(HINSTANCE instance) {
  m_instance = instance;
  return S_OK;
}

void CAppModule::Term() {
  std::lock_guard lock(m_lock);
  m_loops.clear();
}

BOOL CAppModule::AddMessageLoop(CMessageLoop* loop) {
  std::lock_guard lock(m_lock);
  return m_loops.emplace(::GetCurrentThreadId(), loop).second ? TRUE : FALSE;
}

BOOL CAppModule::RemoveMessageLoop() {
  std::lock_guard lock(m_lock);
  return m_loops.erase(::GetCurrentThreadId()) ? TRUE : FALSE;
}

CMessageLoop* CAppModule::GetMessageLoop(DWORD threadId) const {
  std::lock_guard lock(m_lock);
  const auto it = m_loops.find(threadId);
  return it == m_loops.end() ? nullptr : it->second;
}

}  // namespace fw
