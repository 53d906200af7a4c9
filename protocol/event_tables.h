#pragma once
// The event names and the event-list table that every configuration in the newer layout carries.
// A converted image gets them whole, whatever the older file held in their place.

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvel::config {

constexpr std::size_t kEventCodes = 256;

// Event-name table: one 33-byte slot per event code, an ASCII name filled up with zero bytes.
constexpr std::size_t kEventNameSlotSize = 33;
constexpr std::size_t kEventNameTableSize = kEventCodes * kEventNameSlotSize;  // 8,448

struct BuiltInEventName {
  std::uint8_t code;
  char slot[kEventNameSlotSize];  // the name, zero-filled to the whole slot
};
constexpr std::size_t kBuiltInEventNameCount = 6;
extern const std::array<BuiltInEventName, kBuiltInEventNameCount> kBuiltInEventNames;

// Event-list table: one entry per event code, up to ten u16 values ended by the first 0.
constexpr std::size_t kEventListValues = 10;
constexpr std::size_t kEventListEntrySize = kEventListValues * 2;               // 20
constexpr std::size_t kEventListTableSize = kEventCodes * kEventListEntrySize;  // 5,120

using EventList = std::array<std::uint16_t, kEventListValues>;
extern const std::array<EventList, kEventCodes> kBuiltInEventLists;

// The built-in event-list table as the device stores it: 5,120 bytes, values little-endian.
std::array<std::uint8_t, kEventListTableSize> BuiltInEventListImage();

}  // namespace orvel::config
