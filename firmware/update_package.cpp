// Loading an update package: size and checksum checks, unscrambling and the split into the program
// image and the parts. Pure computation on the bytes of the file.

#include "firmware/update_package.h"

#include "common/error_report.h"

namespace {

using orvel::protocol::GetU32;

[[noreturn]] void ThrowSizeError() {
  throw CMBoxExeption(L"Размер файла обновления не верен.", L"Ошибка.", mbox::kIconError);
}

[[noreturn]] void ThrowChecksumError() {
  throw CMBoxExeption(L"Файл обновления - конорольная сумма не совапала.", L"Ошибка.",
                      mbox::kIconError);
}

}  // namespace

UpdateHeader UpdateHeader::Decode(const std::uint8_t* bytes) {
  UpdateHeader header;
  header.payloadLength = GetU32(bytes + 0);
  header.checksum = GetU32(bytes + 4);
  header.version.kind = bytes[9];
  header.version.number = bytes[10];
  header.programLength = GetU32(bytes + 12);
  header.scrambled = bytes[16];
  return header;
}

UpdatePackage LoadUpdatePackage(std::vector<std::uint8_t>& file) {
  constexpr std::size_t kHeader = UpdateHeader::kSize;
  const std::size_t size = file.size();
  if (size < kHeader) ThrowSizeError();
  const UpdateHeader header = UpdateHeader::Decode(file.data());
  if (header.payloadLength != size - kHeader) ThrowSizeError();
  // The format itself does not tie the program length to the payload; a length past the end of the
  // payload would make us read beyond the file, so it counts as a wrong size.
  if (header.programLength > header.payloadLength) ThrowSizeError();

  // Downwards, so that file[i] is still the stored byte when it unscrambles file[kHeader + i].
  std::uint32_t sum = 0;
  for (std::size_t i = header.payloadLength; i-- > 0;) {
    if (header.scrambled != 0) file[kHeader + i] ^= file[i];
    sum += file[kHeader + i];
  }
  if (sum != header.checksum) ThrowChecksumError();

  UpdatePackage package;
  const auto programBegin = file.begin() + kHeader;
  package.program.assign(programBegin, programBegin + header.programLength);

  // A further part is read only while more than kHeader bytes remain; the tail is ignored.
  std::size_t pos = kHeader + header.programLength;
  while (pos + kHeader < size) {
    const std::size_t length = GetU32(file.data() + pos);
    const std::size_t dataBegin = pos + 4;
    if (length > size - dataBegin) ThrowSizeError();  // the part runs past the end of the file
    package.parts.emplace_back(file.begin() + dataBegin, file.begin() + dataBegin + length);
    pos = dataBegin + length;
  }

  package.version = header.version;
  return package;
}
