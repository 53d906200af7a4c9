// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "device/udp_link.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>

#include "common/desktop.h"
#include "common/error_report.h"
#include "common/text.h"

namespace {

const wchar_t kAvailableCaption[] = L"Ошибка проверки имеющихся данных для чтения из сокета.";

// The most datagrams DiscardQueued takes before a request goes out.
constexpr int kDiscardLimit = 256;

}  // namespace

CUDPAsio::CUDPAsio(orvel::IDesktop& desktop) : m_desktop(desktop) {}

CUDPAsio::~CUDPAsio() {
  Close();
  m_deviceAddress = 0;
  m_localAddress = 0;
  m_port = 0;
}

bool CUDPAsio::Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
                    const std::uint32_t& localAddress) {
  m_deviceAddress = deviceAddress;
  m_port = port;
  m_localAddress = localAddress;
  return Connect();
}

bool CUDPAsio::Connect() {
  try {
    Close();
    m_socket.Open(m_localAddress, m_port);
    // The peer is the device's address only; answers are matched on the port by Receive.
    m_socket.ConnectTo(m_deviceAddress);
    return true;
  } catch (const boost::system::system_error& e) {
    CloseQuietly();
    orvel::ShowOpenFailure(m_desktop, e);
    return false;
  } catch (...) {
    CloseQuietly();
    throw CMBoxExeption(L"Ошибка UDP 0x0002", L"Ошибка инициализации протокола UDP.",
                        mbox::kIconError);
  }
}

void CUDPAsio::CloseQuietly() {
  try {
    m_socket.Close();
  } catch (...) {
    // Already failing: the error that brought us here is the one shown.
  }
}

void CUDPAsio::Close() {
  if (!m_socket.IsOpen()) return;
  try {
    m_socket.Close();
  } catch (...) {
    // The socket object stays; the next Close that succeeds discards it.
    ShowError(L"Ошибка UDP 0x0004", L"Ошибка.");
  }
}

unsigned CUDPAsio::Send(const std::uint8_t* data, std::uint16_t length) {
  try {
    if (!m_socket.IsOpen()) return 0;
    const auto sent = static_cast<unsigned>(m_socket.SendTo(data, length, Device()));
    if (m_observer) m_observer->Sent(m_deviceAddress, m_port, data, length);
    return sent;
  } catch (const std::exception& e) {
    ShowError(orvel::Widen1251(e.what()), orvel::kLinkSendCaption);
  } catch (...) {
    ShowError(L"Ошибка UDP 0x0005", orvel::kLinkSendCaption);
  }
  return 0;
}

unsigned CUDPAsio::Available() {
  try {
    if (!m_socket.IsOpen()) return 0;
    std::size_t waiting = m_socket.Available();
    // Some platforms count only the first queued datagram. One shorter than the smallest answer
    // (2 bytes) would then hide every datagram behind it for good; it can never be an answer, so
    // take it off the queue and look again.
    for (int dropped = 0; waiting < 2 && dropped < 16 && m_socket.HasQueuedDatagram(); ++dropped) {
      // Count again now that a datagram is known to be queued: the first count may have been taken
      // before it arrived, and a real answer must never be dropped for that.
      waiting = m_socket.Available();
      if (waiting >= 2) break;
      Forget(orvel::DatagramFate::Short);
      waiting = m_socket.Available();
    }
    return static_cast<unsigned>(waiting);
  } catch (const std::exception& e) {
    ShowError(orvel::Widen1251(e.what()), kAvailableCaption);
  } catch (...) {
    ShowError(L"Ошибка UDP 0x0006", kAvailableCaption);
  }
  return 0;
}

unsigned CUDPAsio::Receive(std::uint8_t* buffer, std::uint16_t length) {
  try {
    if (!m_socket.IsOpen()) return 0;
    std::array<std::uint8_t, kScratchSize> scratch{};
    orvel::Endpoint sender;
    const std::size_t size = m_socket.ReceiveFrom(scratch.data(), scratch.size(), sender);
    // Only the device's own datagrams reach the caller's buffer: anything from another address or
    // port is consumed and dropped without touching it, whatever its size, and without a word:
    // anyone on the network can send them.
    if (sender != Device()) {
      Report(sender, scratch.data(), size, orvel::DatagramFate::Stranger);
      return 0;
    }
    // Longer than any answer and only partly taken: an error, told once per task. The datagram is
    // gone and the exchange goes on.
    if (size > scratch.size()) {
      Report(sender, scratch.data(), size, orvel::DatagramFate::TooLong);
      if (m_oversizeReported) return 0;
      m_oversizeReported = true;
      throw orvel::DatagramTooLong();
    }
    const std::size_t copied = std::min({std::size_t{length}, size, scratch.size()});
    if (copied > 0) std::memcpy(buffer, scratch.data(), copied);
    return static_cast<unsigned>(size);
  } catch (const std::exception& e) {
    ShowError(orvel::Widen1251(e.what()), orvel::kLinkReceiveCaption);
  } catch (...) {
    ShowError(L"Ошибка UDP 0x0007", orvel::kLinkReceiveCaption);
  }
  return 0;
}

void CUDPAsio::WaitReadable(unsigned ms) {
  if (m_socket.IsOpen()) m_socket.WaitReadable(ms);
}

void CUDPAsio::DiscardQueued() {
  if (!m_socket.IsOpen()) return;
  // One readiness test when nothing waits, which is the common case.
  for (int taken = 0; taken < kDiscardLimit && m_socket.HasQueuedDatagram(); ++taken) {
    Forget(orvel::DatagramFate::Stale);
  }
}

void CUDPAsio::Forget(orvel::DatagramFate fromDevice) {
  std::array<std::uint8_t, kScratchSize> scratch;
  orvel::Endpoint sender;
  std::size_t size = 0;
  try {
    size = m_socket.ReceiveFrom(scratch.data(), scratch.size(), sender);
  } catch (const boost::system::system_error&) {
    return;  // concerns only that datagram (an error parked on the socket is taken with it)
  }
  Report(sender, scratch.data(), size,
         sender == Device() ? fromDevice : orvel::DatagramFate::Stranger);
}

void CUDPAsio::Report(orvel::Endpoint sender, const std::uint8_t* data, std::size_t size,
                      orvel::DatagramFate fate) {
  if (!m_observer) return;
  m_observer->Received(sender.address, sender.port, data, std::min(size, kScratchSize), size, fate);
}

void CUDPAsio::ShowError(const std::wstring& text, const std::wstring& caption) {
  m_desktop.ShowMessage(nullptr, text, caption, mbox::kIconError);
}
