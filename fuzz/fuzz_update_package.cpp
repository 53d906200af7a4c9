// Fuzzes the update-package loader with whole package files.
//
// The first input byte selects how the rest is used:
//   even: the rest is the package file as it stands;
//   odd:  the rest is a package whose payload length and checksum are first made right, so that
//         the fuzzer gets past both checks and reaches the split into program and parts.
// The loader must either refuse the file with a box or return a program and parts that fit in it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/error_report.h"
#include "firmware/update_package.h"

namespace {

void MakeHeaderFit(std::vector<std::uint8_t>& file) {
  constexpr std::size_t kHeader = UpdateHeader::kSize;
  if (file.size() < kHeader) return;
  const auto payload = static_cast<std::uint32_t>(file.size() - kHeader);
  orvel::protocol::PutU32(&file[0], payload);
  std::uint32_t sum = 0;
  const bool scrambled = file[16] != 0;
  for (std::size_t i = 0; i < payload; ++i) {
    sum += scrambled ? static_cast<std::uint8_t>(file[kHeader + i] ^ file[i]) : file[kHeader + i];
  }
  orvel::protocol::PutU32(&file[4], sum);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::vector<std::uint8_t> file(data + 1, data + size);
  if ((data[0] & 1) != 0) MakeHeaderFit(file);
  const std::size_t fileSize = file.size();
  try {
    const UpdatePackage package = LoadUpdatePackage(file);
    std::size_t used = UpdateHeader::kSize + package.program.size();
    for (const auto& part : package.parts) used += 4 + part.size();
    if (used > fileSize) std::abort();  // more bytes came out than the file holds
  } catch (const CMBoxExeption& box) {
    if (box.Text().empty()) std::abort();
  }
  return 0;
}
