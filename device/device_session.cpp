#include "device/device_session.h"

#include <algorithm>
#include <utility>

#include "device/udp_link.h"

// --- CTaskProgress: every message goes through the desktop, with the bar's handle even when it is
// null (the Win32 side then sends to nowhere; the console side draws its own line). ---

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

// --- CDeviceSession ---

CDeviceSession::CDeviceSession(orvel::IDesktop& desktop, orvel::IClock& clock)
    : CDeviceSession(desktop, clock, std::make_unique<CUDPAsio>(desktop)) {}

CDeviceSession::CDeviceSession(orvel::IDesktop& desktop, orvel::IClock& clock,
                               std::unique_ptr<orvel::ILink> link)
    : m_progress(desktop), m_desktop(desktop), m_clock(clock), m_link(std::move(link)) {}

// Destroying m_link closes a socket that a lease may still hold open.
CDeviceSession::~CDeviceSession() = default;

void CDeviceSession::BeginTask() {
  m_link->BeginTask();
  m_taskWrites.clear();
  m_stats = TaskStats{};
}

bool CDeviceSession::WroteAt(std::uint32_t address) const {
  return std::find(m_taskWrites.begin(), m_taskWrites.end(), address) != m_taskWrites.end();
}

void CDeviceSession::SetTrafficObserver(orvel::ITrafficObserver* observer) {
  m_observer = observer;
  m_link->SetObserver(observer);
}

void CDeviceSession::ReportAnswer(const std::uint8_t* data, std::size_t shown, unsigned size,
                                  orvel::DatagramFate fate) {
  if (m_observer) m_observer->Received(m_deviceAddress, m_port, data, shown, size, fate);
}

CDeviceSession::Lease CDeviceSession::GetLink() {
  if (Lease alive = m_lease.lock()) return alive;

  if (!m_link->Init(m_deviceAddress, m_port, m_localAddress)) {
    throw CMBoxExeption(L"Ошибка инициализации подключения.", L"Ошибка.", 1u);
  }
  // The lease never owns the link: its release closes the socket and leaves the object. Should the
  // share count itself fail to allocate, shared_ptr runs that same release (closing the link)
  // before the failure propagates.
  Lease lease(m_link.get(), [](orvel::ILink* link) { link->Close(); });
  m_lease = lease;
  return lease;
}
