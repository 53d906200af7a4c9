#pragma once
// The local IPv4 interfaces the tool can bind: the addresses the host's own name resolves to, in
// the resolver's order (the dialog offers them in its interface list, orvelctl interfaces prints
// them). Throws std::exception when the name cannot be resolved.

#include <cstdint>
#include <vector>

namespace orvel {

std::vector<std::uint32_t> LocalIPv4Interfaces();

// The addresses at which the tool's own socket, bound to boundAddress (0: every interface), gets
// back what it sends there itself: the bound address, or when bound to every interface each
// address of this computer (127.0.0.1 always among them). A device is never found there.
std::vector<std::uint32_t> AddressesOfThisComputer(std::uint32_t boundAddress);

}  // namespace orvel
