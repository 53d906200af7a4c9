#include "session/device_session.h"

#include <algorithm>
#include <utility>

#include "device/udp_link.h"
#include "protocol/exchange_rules.h"

CDeviceSession::CDeviceSession(orvel::IDesktop& desktop, orvel::IClock& clock)
    : CDeviceSession(desktop, clock, std::make_unique<CUDPAsio>(desktop)) {}

CDeviceSession::CDeviceSession(orvel::IDesktop& desktop, orvel::IClock& clock,
                               std::unique_ptr<orvel::ILink> link)
    : m_progress(desktop), m_desktop(desktop), m_clock(clock), m_link(std::move(link)) {}

CDeviceSession::~CDeviceSession() = default;

void CDeviceSession::BeginTask() {
  m_link.Link().BeginTask();
  m_taskWrites.clear();
  m_roundTrip = orvel::exchange::RoundTripEstimate{};
  m_stats = TaskStats{};
  m_announcedBytes = 0;
}

void CDeviceSession::AnnounceBytes(std::uint64_t n) {
  m_stats.queuedBytes += n;
  m_announcedBytes += n;
}

void CDeviceSession::CountQueued(std::uint64_t n) {
  const std::uint64_t announced = std::min(n, m_announcedBytes);
  m_announcedBytes -= announced;
  m_stats.queuedBytes += n - announced;
}

bool CDeviceSession::WroteAt(std::uint32_t address) const {
  return std::find(m_taskWrites.begin(), m_taskWrites.end(), address) != m_taskWrites.end();
}

bool CDeviceSession::IsLateWriteAnswer(const std::uint8_t* answer, std::size_t n) const {
  const auto address = orvel::exchange::WriteAnswerAddress(answer, n);
  return address && WroteAt(*address);
}

void CDeviceSession::SetTrafficObserver(orvel::ITrafficObserver* observer) {
  m_observer = observer;
  m_link.Link().SetObserver(observer);
}

void CDeviceSession::ReportAnswer(const std::uint8_t* data, std::size_t shown, unsigned size,
                                  orvel::DatagramFate fate) {
  if (m_observer) m_observer->Received(m_deviceAddress, m_port, data, shown, size, fate);
}

void CDeviceSession::ReportNote(const std::string& text) {
  if (m_observer) m_observer->Note(m_deviceAddress, m_port, text);
}

CDeviceSession::Lease CDeviceSession::GetLink() {
  return m_link.Acquire(m_deviceAddress, m_port, m_localAddress);
}

std::wstring CDeviceSession::ChooseTaskFile(const orvel::FileChoice& choice,
                                            const wchar_t* cancelledText) {
  auto path = m_desktop.ChooseFile(choice);
  if (!path) throw CMBoxExeption(cancelledText, L"Внимание!", mbox::kIconWarning);
  return std::move(*path);
}
