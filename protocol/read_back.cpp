// Read-back verification: the regions a task wrote are read again and compared byte for byte.
#include "protocol/read_back.h"

#include <algorithm>
#include <cwchar>
#include <string>

namespace orvel::protocol {

void CompareReadBack(std::uint32_t address, const std::uint8_t* written, const std::uint8_t* read,
                     std::size_t size, ReadBackMismatch& mismatch) {
  for (std::size_t i = 0; i < size; ++i) {
    if (written[i] == read[i]) continue;
    const auto at = static_cast<std::uint32_t>(address + i);
    if (mismatch.count == 0 || at < mismatch.firstAddress) mismatch.firstAddress = at;
    ++mismatch.count;
  }
}

CMBoxExeption ReadBackFailed(const ReadBackMismatch& mismatch) {
  wchar_t details[96];
  std::swprintf(details, 96, L"Отличающихся байт: %zu, первый по адресу 0x%X.", mismatch.count,
                static_cast<unsigned>(mismatch.firstAddress));
  return CMBoxExeption(
      std::wstring(L"Проверка записи: прочитанное из прибора не совпадает с записанным.\n") +
          details,
      L"Ошибка проверки записи.", mbox::kIconError);
}

}  // namespace orvel::protocol
