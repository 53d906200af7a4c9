// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "device/udp_link.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>

#include "common/desktop.h"
#include "common/error_report.h"
#include "common/text.h"
#include "platform/socket.h"

namespace {

namespace asio = boost::asio;
using boost::asio::ip::udp;

const wchar_t kInitCaption[] = L"Ошибка инициализации подключения.";
const wchar_t kPortInUse[] =
    L"Выбранный порт используется другой программой.\n"
    L"Обычно разрешается одно использование адреса сокета.";
const wchar_t kSendCaption[] = L"Ошибка отправки пакета.";
const wchar_t kAvailableCaption[] = L"Ошибка проверки имеющихся данных для чтения из сокета.";
const wchar_t kReceiveCaption[] = L"Ошибка чтения пакета данных.";

udp::endpoint Endpoint(std::uint32_t address, std::uint16_t port) {
  return udp::endpoint(asio::ip::address_v4(address), port);
}

// One datagram into buffer (at most size bytes) with its sender; returns the datagram's full size,
// which is larger than size when it did not fit (and the rest of it is gone).
std::size_t ReceiveFrom(udp::socket& socket, std::uint8_t* buffer, std::size_t size,
                        udp::endpoint& sender) {
  const orvel::net::ReceivedDatagram received =
      orvel::net::ReceiveFrom(socket.native_handle(), buffer, size);
  if (received.error != 0) {
    throw boost::system::system_error(
        boost::system::error_code(received.error, asio::error::get_system_category()),
        "receive_from");
  }
  sender = Endpoint(received.senderAddress, received.senderPort);
  return received.size;
}

bool HasQueuedDatagram(udp::socket& socket) {
  return orvel::net::HasQueuedDatagram(socket.native_handle());
}

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
    if (!m_socket) m_socket = std::make_unique<udp::socket>(m_ioService);
    m_socket->open(udp::v4());
    m_socket->set_option(asio::socket_base::broadcast(false));
    const udp::endpoint local =
        m_localAddress != 0 ? Endpoint(m_localAddress, m_port) : udp::endpoint(udp::v4(), m_port);
    // The port is never shared: a second tool on the same interface and port would take answers
    // meant for this one.
    if (const int error = orvel::net::HoldPortExclusively(m_socket->native_handle())) {
      throw boost::system::system_error(
          boost::system::error_code(error, asio::error::get_system_category()), "set_option");
    }
    m_socket->set_option(asio::ip::multicast::enable_loopback(true));
    m_socket->set_option(asio::ip::multicast::hops(1));
    m_socket->bind(local);
    // The peer is the device's address only; answers are matched on the port by Receive.
    m_socket->connect(Endpoint(m_deviceAddress, 0));
    return true;
  } catch (const boost::system::system_error& e) {
    m_socket.reset();
    if (e.code() == asio::error::address_in_use) {
      ShowError(kPortInUse, kInitCaption);
    } else {
      ShowError(orvel::Widen1251(e.what()), kInitCaption);
    }
    return false;
  } catch (...) {
    m_socket.reset();
    throw CMBoxExeption(L"Ошибка UDP 0x0002", L"Ошибка инициализации протокола UDP.",
                        mbox::kIconError);
  }
}

void CUDPAsio::Close() {
  if (!m_socket) return;
  try {
    m_socket->close();
    m_socket.reset();
  } catch (...) {
    // The socket object stays; the next Close that succeeds discards it.
    ShowError(L"Ошибка UDP 0x0004", L"Ошибка.");
  }
}

unsigned CUDPAsio::Send(const std::uint8_t* data, std::uint16_t length) {
  try {
    const udp::endpoint destination = Endpoint(m_deviceAddress, m_port);
    if (!m_socket) return 0;
    const auto sent =
        static_cast<unsigned>(m_socket->send_to(asio::buffer(data, length), destination, 0));
    if (m_observer) m_observer->Sent(m_deviceAddress, m_port, data, length);
    return sent;
  } catch (const std::exception& e) {
    ShowError(orvel::Widen1251(e.what()), kSendCaption);
  } catch (...) {
    ShowError(L"Ошибка UDP 0x0005", kSendCaption);
  }
  return 0;
}

unsigned CUDPAsio::Available() {
  try {
    if (!m_socket) return 0;
    std::size_t waiting = m_socket->available();
    // Some platforms count only the first queued datagram. One shorter than the smallest answer
    // (2 bytes) would then hide every datagram behind it for good; it can never be an answer, so
    // take it off the queue and look again.
    for (int dropped = 0; waiting < 2 && dropped < 16 && HasQueuedDatagram(*m_socket); ++dropped) {
      // Count again now that a datagram is known to be queued: the first count may have been taken
      // before it arrived, and a real answer must never be dropped for that.
      waiting = m_socket->available();
      if (waiting >= 2) break;
      Forget(orvel::DatagramFate::Short);
      waiting = m_socket->available();
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
    if (!m_socket) return 0;
    std::array<std::uint8_t, kScratchSize> scratch{};
    udp::endpoint sender;
    const std::size_t size = ReceiveFrom(*m_socket, scratch.data(), scratch.size(), sender);
    // Only the device's own datagrams reach the caller's buffer: anything from another address or
    // port is consumed and dropped without touching it, whatever its size, and without a word:
    // anyone on the network can send them.
    if (sender != Endpoint(m_deviceAddress, m_port)) {
      Report(sender, scratch.data(), size, orvel::DatagramFate::Stranger);
      return 0;
    }
    // Longer than any answer and only partly taken: an error, told once per task. The datagram is
    // gone and the exchange goes on.
    if (size > scratch.size()) {
      Report(sender, scratch.data(), size, orvel::DatagramFate::TooLong);
      if (m_oversizeReported) return 0;
      m_oversizeReported = true;
      throw boost::system::system_error(asio::error::message_size, "receive_from");
    }
    const std::size_t copied = std::min({std::size_t{length}, size, scratch.size()});
    if (copied > 0) std::memcpy(buffer, scratch.data(), copied);
    return static_cast<unsigned>(size);
  } catch (const std::exception& e) {
    ShowError(orvel::Widen1251(e.what()), kReceiveCaption);
  } catch (...) {
    ShowError(L"Ошибка UDP 0x0007", kReceiveCaption);
  }
  return 0;
}

void CUDPAsio::WaitReadable(unsigned ms) {
  if (m_socket) orvel::net::WaitReadable(m_socket->native_handle(), ms);
}

void CUDPAsio::DiscardQueued() {
  if (!m_socket) return;
  // One readiness test when nothing waits, which is the common case.
  for (int taken = 0; taken < kDiscardLimit && HasQueuedDatagram(*m_socket); ++taken) {
    Forget(orvel::DatagramFate::Stale);
  }
}

void CUDPAsio::Forget(orvel::DatagramFate fromDevice) {
  std::array<std::uint8_t, kScratchSize> scratch;
  udp::endpoint sender;
  std::size_t size = 0;
  try {
    size = ReceiveFrom(*m_socket, scratch.data(), scratch.size(), sender);
  } catch (const boost::system::system_error&) {
    return;  // concerns only that datagram (an error parked on the socket is taken with it)
  }
  Report(sender, scratch.data(), size,
         sender == Endpoint(m_deviceAddress, m_port) ? fromDevice : orvel::DatagramFate::Stranger);
}

void CUDPAsio::Report(const udp::endpoint& sender, const std::uint8_t* data, std::size_t size,
                      orvel::DatagramFate fate) {
  if (!m_observer) return;
  m_observer->Received(sender.address().to_v4().to_uint(), sender.port(), data,
                       std::min(size, kScratchSize), size, fate);
}

void CUDPAsio::ShowError(const std::wstring& text, const std::wstring& caption) {
  m_desktop.ShowMessage(nullptr, text, caption, mbox::kIconError);
}
