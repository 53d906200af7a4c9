#include "session/task_progress.h"

// Every message goes through the desktop, with the bar's handle even when it is null (the Win32
// side then sends to nowhere; the console side draws its own line).

void CTaskProgress::Attach(orvel::WindowHandle bar) {
  m_hBar = bar;
  m_desktop.SetProgressPos(m_hBar, 0);
}

void CTaskProgress::Reset(std::uint16_t max) {
  m_pos = 0;
  m_desktop.SetProgressRange(m_hBar, max);
  m_desktop.SetProgressPos(m_hBar, 0);
}

void CTaskProgress::SetPos(std::uint16_t pos) {
  const bool shared = m_shareFrom != 0 || m_shareTo != 100;
  m_pos = shared ? static_cast<std::uint16_t>(m_shareFrom + pos * (m_shareTo - m_shareFrom) / 100)
                 : pos;
  m_desktop.SetProgressPos(m_hBar, m_pos);
}

void CTaskProgress::Step(std::uint16_t delta) {
  m_pos = static_cast<std::uint16_t>(m_pos + (delta == 0 ? 1 : delta));
  m_desktop.SetProgressPos(m_hBar, m_pos);
}

ProgressShare::ProgressShare(CTaskProgress& progress, unsigned from, unsigned to)
    : m_progress(progress), m_savedFrom(progress.m_shareFrom), m_savedTo(progress.m_shareTo) {
  const unsigned span = m_savedTo - m_savedFrom;
  m_progress.m_shareFrom = static_cast<std::uint16_t>(m_savedFrom + from * span / 100);
  m_progress.m_shareTo = static_cast<std::uint16_t>(m_savedFrom + to * span / 100);
}

ProgressShare::~ProgressShare() {
  m_progress.m_shareFrom = m_savedFrom;
  m_progress.m_shareTo = m_savedTo;
}
