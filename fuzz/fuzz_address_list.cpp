// Fuzzes the device lists with whole texts: a devices file, or what -d takes.
//
// The first input byte selects the reader (odd: a devices file; even: a command-line list) for the
// rest. A reader must either refuse the text with an error text or return at most the limit of
// devices, each entry (address and port) once; and that list written back as a devices file must
// read as the same list. The limit is small so that ranges and networks reach it quickly.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include "common/address_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  constexpr std::size_t kLimit = 64;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string error;
  const auto devices = (data[0] & 1) != 0 ? orvel::ParseDeviceFile(text, error, kLimit)
                                          : orvel::ParseAddressList(text, error, kLimit);
  if (!devices) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (devices->empty() || devices->size() > kLimit) std::abort();
  std::set<std::pair<std::uint32_t, int>> entries;
  std::string file;
  for (const orvel::DeviceEntry& device : *devices) {
    if (!entries.emplace(device.address, device.port ? int{*device.port} : -1).second) std::abort();
    file += orvel::FormatIPv4(device.address);
    if (device.port) file += ":" + std::to_string(*device.port);
    file += "\n";
  }
  const auto again = orvel::ParseDeviceFile(file, error, kLimit);
  if (!again || *again != *devices) std::abort();
  return 0;
}
