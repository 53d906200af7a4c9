#pragma once
// The local IPv4 interfaces the tool can bind: the addresses the host's own name resolves to, in
// the resolver's order (the dialog offers them in its interface list, orvelctl interfaces prints
// them). Throws std::exception when the name cannot be resolved.

#include <cstdint>
#include <vector>

namespace orvel {

std::vector<std::uint32_t> LocalIPv4Interfaces();

}  // namespace orvel
