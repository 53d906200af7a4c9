// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "device/udp_socket.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/socket_base.hpp>

#include "common/desktop.h"
#include "common/text.h"
#include "platform/socket.h"

namespace orvel {
namespace {

namespace asio = boost::asio;
using boost::asio::ip::udp;

const wchar_t kPortInUse[] =
    L"Выбранный порт используется другой программой.\n"
    L"Обычно разрешается одно использование адреса сокета.";

udp::endpoint ToAsio(std::uint32_t address, std::uint16_t port) {
  return udp::endpoint(asio::ip::address_v4(address), port);
}

[[noreturn]] void ThrowSystemError(int error, const char* call) {
  throw boost::system::system_error(
      boost::system::error_code(error, asio::error::get_system_category()), call);
}

}  // namespace

const wchar_t kLinkInitCaption[] = L"Ошибка инициализации подключения.";
const wchar_t kLinkSendCaption[] = L"Ошибка отправки пакета.";
const wchar_t kLinkReceiveCaption[] = L"Ошибка чтения пакета данных.";

UdpSocket::~UdpSocket() {
  try {
    Close();
  } catch (...) {
    // Nothing is left to tell it to.
  }
}

void UdpSocket::Open(std::uint32_t localAddress, std::uint16_t port) {
  Close();
  auto socket = std::make_unique<udp::socket>(m_ioService);
  socket->open(udp::v4());
  socket->set_option(asio::socket_base::broadcast(false));
  // The port is never shared: a second tool on the same interface and port would take answers
  // meant for this one.
  if (const int error = net::HoldPortExclusively(socket->native_handle())) {
    ThrowSystemError(error, "set_option");
  }
  socket->set_option(asio::ip::multicast::enable_loopback(true));
  socket->set_option(asio::ip::multicast::hops(1));
  socket->bind(localAddress != 0 ? ToAsio(localAddress, port) : udp::endpoint(udp::v4(), port));
  m_socket = std::move(socket);
}

void UdpSocket::IgnoreUnreachableReports() {
  if (const int error = net::IgnoreUnreachableReports(m_socket->native_handle())) {
    ThrowSystemError(error, "set_option");
  }
}

void UdpSocket::ConnectTo(std::uint32_t address) { m_socket->connect(ToAsio(address, 0)); }

void UdpSocket::Close() {
  if (!m_socket) return;
  m_socket->close();
  m_socket.reset();
}

std::size_t UdpSocket::SendTo(const std::uint8_t* data, std::size_t size, Endpoint to) {
  // The system's call, not Asio's: sessions of a run send through one socket from their own
  // threads, which the system allows and Asio's socket object does not promise.
  const net::SendResult sent =
      net::SendTo(m_socket->native_handle(), data, size, to.address, to.port);
  if (sent.error != 0) ThrowSystemError(sent.error, "send_to");
  return sent.size;
}

std::size_t UdpSocket::Available() { return m_socket->available(); }

bool UdpSocket::HasQueuedDatagram() { return net::HasQueuedDatagram(m_socket->native_handle()); }

bool UdpSocket::WaitReadable(unsigned ms) {
  return net::WaitReadable(m_socket->native_handle(), ms);
}

std::size_t UdpSocket::ReceiveFrom(std::uint8_t* buffer, std::size_t size, Endpoint& sender) {
  const net::ReceivedDatagram received = net::ReceiveFrom(m_socket->native_handle(), buffer, size);
  if (received.error != 0) ThrowSystemError(received.error, "receive_from");
  sender = {received.senderAddress, received.senderPort};
  return received.size;
}

void ShowOpenFailure(IDesktop& desktop, const boost::system::system_error& error) {
  desktop.ShowMessage(nullptr,
                      error.code() == asio::error::address_in_use ? std::wstring(kPortInUse)
                                                                  : Widen1251(error.what()),
                      kLinkInitCaption, mbox::kIconError);
}

boost::system::system_error DatagramTooLong() {
  return boost::system::system_error(asio::error::message_size, "receive_from");
}

}  // namespace orvel
