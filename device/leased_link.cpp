#include "device/leased_link.h"

#include "common/error_report.h"

namespace orvel {

LeasedLink::Lease LeasedLink::Acquire(const std::uint32_t& deviceAddress, const std::uint16_t& port,
                                      const std::uint32_t& localAddress) {
  if (Lease alive = m_lease.lock()) return alive;

  if (!m_link->Init(deviceAddress, port, localAddress)) {
    throw CMBoxExeption(L"Ошибка инициализации подключения.", L"Ошибка.", 1u);
  }
  // The lease never owns the link: its release closes the socket and leaves the object. Should the
  // share count itself fail to allocate, shared_ptr runs that same release (closing the link)
  // before the failure propagates.
  Lease lease(m_link.get(), [](ILink* link) { link->Close(); });
  m_lease = lease;
  return lease;
}

}  // namespace orvel
