#pragma once
// The link of one device of a run over many: the device's share of the run's socket for its
// interface and port (SharedSocket). Init registers the device, Close lets it go; what the device
// sends waits in its own inbox. Boxes go to the device's own desktop.

#include <cstdint>

#include "device/link.h"
#include "device/shared_socket.h"

namespace orvel {

class IDesktop;

class SharedLink final : public ILink {
 public:
  SharedLink(SharedSockets& sockets, IDesktop& desktop);
  ~SharedLink() override;
  SharedLink(const SharedLink&) = delete;
  SharedLink& operator=(const SharedLink&) = delete;

  bool Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
            const std::uint32_t& localAddress) override;
  void Close() override;
  bool IsOpen() const override { return m_socket != nullptr; }
  unsigned Send(const std::uint8_t* data, std::uint16_t length) override;
  unsigned Available() override;
  unsigned Receive(std::uint8_t* buffer, std::uint16_t length) override;
  void WaitReadable(unsigned ms) override;
  void BeginTask() override;
  void DiscardQueued() override;

 private:
  void ShowError(const std::wstring& text, const std::wstring& caption);
  // A receive error of the socket, told once per task: every device waiting on it would see it.
  void ReceiveFailed(const std::exception& error);
  // A send error, told once per task: every resend meets it again (a network without a route).
  void SendFailed(const std::exception& error);
  void Report(const QueuedDatagram& datagram, DatagramFate fate);

  SharedSockets& m_sockets;
  IDesktop& m_desktop;
  SharedSocket* m_socket = nullptr;  // while registered
  Endpoint m_device;
  SharedSocket::Inbox m_inbox;
  bool m_oversizeReported = false;
  bool m_receiveErrorReported = false;
  bool m_sendErrorReported = false;
};

}  // namespace orvel
