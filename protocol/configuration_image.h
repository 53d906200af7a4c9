#pragma once
// The two layouts of the device's configuration area, as far as the tool interprets them. From
// offset 1,024 of the older layout on, the newer one is the older moved up by 256 bytes: only the
// record area at the start grows (32 records of 32 bytes become 32 of 36) and is followed by 128
// new bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/event_tables.h"

namespace orvel::config {

constexpr std::size_t kOldImageSize = 44660;
constexpr std::size_t kNewImageSize = 44916;

constexpr std::size_t kRecordCount = 32;
constexpr std::size_t kOldRecordSize = 32;
constexpr std::size_t kNewRecordSize = 36;
constexpr std::size_t kOldRecordArea = kRecordCount * kOldRecordSize;  // 1,024
constexpr std::size_t kNewRecordArea = kRecordCount * kNewRecordSize;  // 1,152
constexpr std::size_t kNewReservedSize = 128;                          // zero after a conversion
constexpr std::size_t kLayoutShift = kNewRecordArea + kNewReservedSize - kOldRecordArea;  // 256

constexpr std::size_t kOldEventNamesOffset = 31092;                                // 0x7974
constexpr std::size_t kOldEventListsOffset = 39540;                                // 0x9A74
constexpr std::size_t kNewEventNamesOffset = kOldEventNamesOffset + kLayoutShift;  // 0x7A74
constexpr std::size_t kNewEventListsOffset = kOldEventListsOffset + kLayoutShift;  // 0x9B74

static_assert(kOldEventListsOffset + kEventListTableSize == kOldImageSize);
static_assert(kNewEventListsOffset + kEventListTableSize == kNewImageSize);
static_assert(kOldEventNamesOffset + kEventNameTableSize == kOldEventListsOffset);

// The older image converted into the newer layout, into out. Its event tables are patched in old
// itself first (see below), so the result carries them. An image of any other size than the older
// layout's is refused with the wrong-size box, and neither argument changes then.
void ConvertConfiguration(std::vector<std::uint8_t>& old, std::vector<std::uint8_t>& out);
// The built-in event names over their slots of an event-name table (the others keep theirs).
void PatchEventNames(std::uint8_t* table);
// The built-in event-list table over a whole event-list table.
void PatchEventLists(std::uint8_t* table);

}  // namespace orvel::config
