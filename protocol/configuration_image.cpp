// Conversion of a configuration image from the older layout to the newer one. Pure byte handling:
// no device, no files, no messages (but for the refusal of an image of the wrong size).
#include "protocol/configuration_image.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/error_report.h"

namespace {

using namespace orvel::config;

// Where each field of a record sits in the two layouts. The gap bytes (22 and 23 of the older
// record; 22, 23, 29, 34 and 35 of the newer one) and the new byte at 28 stay zero.
struct FieldMove {
  std::size_t from;
  std::size_t to;
  std::size_t width;
};
constexpr std::array<FieldMove, 7> kRecordFields = {{
    {0, 0, 1},    // byte 0
    {1, 1, 1},    // byte 1
    {2, 2, 16},   // 16-byte block
    {18, 18, 4},  // 4-byte block
    {24, 24, 4},  // 32-bit value
    {28, 30, 2},  // first 16-bit value
    {30, 32, 2},  // second 16-bit value
}};

void ConvertRecord(const std::uint8_t* oldRecord, std::uint8_t* newRecord) {
  for (const FieldMove& field : kRecordFields) {
    std::memcpy(newRecord + field.to, oldRecord + field.from, field.width);
  }
}

}  // namespace

namespace orvel::config {

void ConvertConfiguration(std::vector<std::uint8_t>& old, std::vector<std::uint8_t>& out) {
  // Callers convert only images of the older size; anything else would be read past its end.
  if (old.size() != kOldImageSize) {
    throw CMBoxExeption(L"Размер файла конфигурации не верен.", L"Ошибка.", mbox::kIconError);
  }

  std::array<std::uint8_t, kNewRecordArea> records{};
  for (std::size_t i = 0; i < kRecordCount; ++i) {
    ConvertRecord(old.data() + i * kOldRecordSize, records.data() + i * kNewRecordSize);
  }

  // The tables are patched in the older image before it is moved, so the result carries them.
  PatchEventNames(old.data() + kOldEventNamesOffset);
  PatchEventLists(old.data() + kOldEventListsOffset);

  out.assign(kNewImageSize, 0);
  std::copy(records.begin(), records.end(), out.begin());
  std::copy(old.begin() + kOldRecordArea, old.end(), out.begin() + kOldRecordArea + kLayoutShift);
}

void PatchEventNames(std::uint8_t* table) {
  for (const BuiltInEventName& name : kBuiltInEventNames) {
    std::memcpy(table + std::size_t{name.code} * kEventNameSlotSize, name.slot, kEventNameSlotSize);
  }
}

void PatchEventLists(std::uint8_t* table) {
  const auto image = BuiltInEventListImage();
  std::memcpy(table, image.data(), image.size());
}

}  // namespace orvel::config
