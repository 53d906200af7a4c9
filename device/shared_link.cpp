// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "device/shared_link.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "common/address_list.h"
#include "common/desktop.h"
#include "common/error_report.h"
#include "common/text.h"

namespace orvel {
namespace {

// The most datagrams DiscardQueued drops before a request goes out.
constexpr int kDiscardLimit = 256;

}  // namespace

SharedLink::SharedLink(SharedSockets& sockets, IDesktop& desktop)
    : m_sockets(sockets), m_desktop(desktop) {}

SharedLink::~SharedLink() { Close(); }

bool SharedLink::Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
                      const std::uint32_t& localAddress) {
  Close();
  SharedSocket& socket = m_sockets.For(localAddress, port);
  try {
    if (!socket.Register({deviceAddress, port}, m_inbox)) {
      ShowError(L"Прибор " + Widen1251(FormatIPv4(deviceAddress)) + L":" + std::to_wstring(port) +
                    L" уже обслуживается.",
                kLinkInitCaption);
      return false;
    }
  } catch (const boost::system::system_error& e) {
    ShowOpenFailure(m_desktop, e);
    return false;
  } catch (...) {
    throw CMBoxExeption(L"Ошибка UDP 0x0002", L"Ошибка инициализации протокола UDP.",
                        mbox::kIconError);
  }
  m_socket = &socket;
  m_device = {deviceAddress, port};
  return true;
}

void SharedLink::Close() {
  if (!m_socket) return;
  SharedSocket* socket = std::exchange(m_socket, nullptr);
  try {
    socket->Unregister(m_device);
  } catch (...) {
    ShowError(L"Ошибка UDP 0x0004", L"Ошибка.");
  }
}

unsigned SharedLink::Send(const std::uint8_t* data, std::uint16_t length) {
  if (!m_socket) return 0;
  try {
    const auto sent = static_cast<unsigned>(m_socket->Send(data, length, m_device));
    if (m_observer) m_observer->Sent(m_device.address, m_device.port, data, length);
    return sent;
  } catch (const std::exception& e) {
    SendFailed(e);
  }
  return 0;
}

unsigned SharedLink::Available() {
  if (!m_socket) return 0;
  try {
    // What has come in but is not handed out yet counts too.
    if (m_socket->FrontSize(m_inbox) == 0) m_socket->Wait(m_inbox, 0);
  } catch (const std::exception& e) {
    ReceiveFailed(e);
  }
  // A datagram shorter than the smallest answer (2 bytes) can never be one; left first in the
  // inbox it would hide every datagram behind it.
  QueuedDatagram dropped;
  for (std::size_t size = m_socket->FrontSize(m_inbox); size > 0 && size < 2;
       size = m_socket->FrontSize(m_inbox)) {
    if (m_socket->Take(m_inbox, dropped)) Report(dropped, DatagramFate::Short);
  }
  return static_cast<unsigned>(m_socket->FrontSize(m_inbox));
}

unsigned SharedLink::Receive(std::uint8_t* buffer, std::uint16_t length) {
  if (!m_socket) return 0;
  QueuedDatagram datagram;
  if (!m_socket->Take(m_inbox, datagram)) return 0;
  // Longer than any answer and only partly taken: an error, told once per task. The datagram is
  // gone and the exchange goes on.
  if (datagram.size > datagram.bytes.size()) {
    Report(datagram, DatagramFate::TooLong);
    if (m_oversizeReported) return 0;
    m_oversizeReported = true;
    ShowError(Widen1251(DatagramTooLong().what()), kLinkReceiveCaption);
    return 0;
  }
  const std::size_t copied = std::min<std::size_t>(length, datagram.size);
  if (copied > 0) std::memcpy(buffer, datagram.bytes.data(), copied);
  return static_cast<unsigned>(datagram.size);
}

void SharedLink::WaitReadable(unsigned ms) {
  if (!m_socket) return;
  try {
    m_socket->Wait(m_inbox, ms);
  } catch (const std::exception& e) {
    ReceiveFailed(e);
  }
}

void SharedLink::BeginTask() {
  m_oversizeReported = false;
  m_receiveErrorReported = false;
  m_sendErrorReported = false;
}

void SharedLink::DiscardQueued() {
  if (!m_socket) return;
  try {
    // Everything the socket holds, not only what comes before the device's first datagram: a copy
    // of an old "OK" left behind there would pass for the next request's answer.
    m_socket->ReadQueued();
  } catch (const std::exception& e) {
    ReceiveFailed(e);
  }
  QueuedDatagram datagram;
  for (int taken = 0; taken < kDiscardLimit && m_socket->Take(m_inbox, datagram); ++taken) {
    Report(datagram, DatagramFate::Stale);
  }
}

void SharedLink::ReceiveFailed(const std::exception& error) {
  if (m_receiveErrorReported) return;
  m_receiveErrorReported = true;
  ShowError(Widen1251(error.what()), kLinkReceiveCaption);
}

void SharedLink::SendFailed(const std::exception& error) {
  if (m_sendErrorReported) return;
  m_sendErrorReported = true;
  ShowError(Widen1251(error.what()), kLinkSendCaption);
}

void SharedLink::Report(const QueuedDatagram& datagram, DatagramFate fate) {
  if (!m_observer) return;
  m_observer->Received(m_device.address, m_device.port, datagram.bytes.data(),
                       std::min(datagram.size, datagram.bytes.size()), datagram.size, fate);
}

void SharedLink::ShowError(const std::wstring& text, const std::wstring& caption) {
  m_desktop.ShowMessage(nullptr, text, caption, mbox::kIconError);
}

}  // namespace orvel
