#pragma once
// The program's only network transport: one IPv4 UDP socket bound on the chosen local interface to
// the device's service port. Synchronous calls only; the io_service is never run.

#include <cstdint>

#include "device/link.h"
#include "device/udp_socket.h"

namespace orvel {
class IDesktop;
}

class CUDPAsio final : public orvel::ILink {
 public:
  // Steady-state errors are shown through the desktop as boxes without an owner window.
  explicit CUDPAsio(orvel::IDesktop& desktop);
  ~CUDPAsio() override;
  CUDPAsio(const CUDPAsio&) = delete;
  CUDPAsio& operator=(const CUDPAsio&) = delete;

  bool Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
            const std::uint32_t& localAddress) override;
  void Close() override;
  bool IsOpen() const override { return m_socket.IsOpen(); }
  unsigned Send(const std::uint8_t* data, std::uint16_t length) override;
  unsigned Available() override;
  unsigned Receive(std::uint8_t* buffer, std::uint16_t length) override;
  void WaitReadable(unsigned ms) override;
  void BeginTask() override { m_oversizeReported = false; }
  void DiscardQueued() override;

  static constexpr std::size_t kScratchSize = orvel::kDatagramScratch;

 private:
  bool Connect();
  void CloseQuietly();
  void ShowError(const std::wstring& text, const std::wstring& caption);
  // Takes one waiting datagram and drops it, reported with the given fate when it came from the
  // device (as a stranger's otherwise).
  void Forget(orvel::DatagramFate fromDevice);
  void Report(orvel::Endpoint sender, const std::uint8_t* data, std::size_t size,
              orvel::DatagramFate fate);
  orvel::Endpoint Device() const { return {m_deviceAddress, m_port}; }

  orvel::IDesktop& m_desktop;
  std::uint32_t m_deviceAddress = 0;
  std::uint32_t m_localAddress = 0;
  std::uint16_t m_port = 0;
  orvel::UdpSocket m_socket;
  // A datagram from the device that did not fit is reported once per task, not once each.
  bool m_oversizeReported = false;
};
