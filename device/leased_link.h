#pragma once
// The link with its leases: it is open exactly while someone holds a lease on it. The first lease
// opens it, nested leases share that opening, and the last one to go closes it again; the link
// object itself stays, and the next lease opens it anew with the values of that moment.

#include <cstdint>
#include <memory>

#include "device/link.h"

namespace orvel {

class LeasedLink {
 public:
  using Lease = std::shared_ptr<ILink>;

  explicit LeasedLink(std::unique_ptr<ILink> link) : m_link(std::move(link)) {}
  // Destroying the link closes a socket that a lease may still hold open.
  ~LeasedLink() = default;
  LeasedLink(const LeasedLink&) = delete;
  LeasedLink& operator=(const LeasedLink&) = delete;

  // The lease that is alive, or a new one on the link opened with these values. A link that cannot
  // be opened (its own box already shown) throws the set-up warning; the next call tries again.
  Lease Acquire(const std::uint32_t& deviceAddress, const std::uint16_t& port,
                const std::uint32_t& localAddress);

  ILink& Link() const { return *m_link; }

 private:
  std::unique_ptr<ILink> m_link;
  std::weak_ptr<ILink> m_lease;
};

}  // namespace orvel
