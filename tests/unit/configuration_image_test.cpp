// The layout conversion and the built-in tables it puts into every converted image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/error_report.h"
#include "protocol/configuration_image.h"
#include "protocol/event_tables.h"

namespace {

using namespace orvel::config;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kTail[] = {0x0F, 0xFF, 0x12, 0xFE};

std::size_t ListLength(const EventList& list) {
  return static_cast<std::size_t>(std::find(list.begin(), list.end(), 0) - list.begin());
}

TEST(ConfigurationEventTables, EventListTableHasTheDocumentedShape) {
  int withTail = 0;
  int empty = 0;
  std::vector<int> others;
  for (std::size_t code = 0; code < kEventCodes; ++code) {
    const EventList& list = kBuiltInEventLists[code];
    const std::size_t length = ListLength(list);
    // Everything after the end of a list is zero.
    for (std::size_t i = length; i < kEventListValues; ++i) {
      EXPECT_EQ(list[i], 0) << "code " << code;
    }
    if (length == 0) {
      ++empty;
    } else if (length >= 5 && length <= 7 &&
               std::equal(std::begin(kTail), std::end(kTail), list.begin() + (length - 4))) {
      ++withTail;
    } else {
      others.push_back(static_cast<int>(code));
    }
  }
  EXPECT_EQ(withTail, 97);
  EXPECT_EQ(empty, 151);
  EXPECT_EQ(others, (std::vector<int>{17, 84, 110, 223, 241, 242, 249, 255}));

  const auto entry = [](std::size_t code) {
    const EventList& list = kBuiltInEventLists[code];
    return std::vector<std::uint16_t>(list.begin(), list.begin() + ListLength(list));
  };
  EXPECT_EQ(entry(17), (std::vector<std::uint16_t>{0x0F, 0xFF, 0x10}));
  EXPECT_EQ(entry(84), (std::vector<std::uint16_t>{0x17}));
  EXPECT_EQ(entry(110), (std::vector<std::uint16_t>{0x68}));
  EXPECT_EQ(entry(223), (std::vector<std::uint16_t>{0x6B}));
  EXPECT_EQ(entry(241), (std::vector<std::uint16_t>{0x0E, 0x0F, 0xFF, 0x0D, 0xFD}));
  EXPECT_EQ(entry(242), (std::vector<std::uint16_t>{0x0B, 0x0F, 0xFF, 0x0D, 0xFD}));
  EXPECT_EQ(entry(249), (std::vector<std::uint16_t>{0x17}));
  EXPECT_EQ(entry(255), (std::vector<std::uint16_t>{0x66}));
  // A few of the common kind, with one, two and three leading values.
  EXPECT_EQ(entry(76), (std::vector<std::uint16_t>{0x71, 0x0F, 0xFF, 0x12, 0xFE}));
  EXPECT_EQ(entry(6), (std::vector<std::uint16_t>{0x97, 0x98, 0x0F, 0xFF, 0x12, 0xFE}));
  EXPECT_EQ(entry(80), (std::vector<std::uint16_t>{0x99, 0x9A, 0x98, 0x0F, 0xFF, 0x12, 0xFE}));
  EXPECT_TRUE(entry(81).empty());
}

TEST(ConfigurationEventTables, TableImageIsLittleEndianTwentyBytesPerCode) {
  const auto image = BuiltInEventListImage();
  ASSERT_EQ(image.size(), 5120u);
  const std::uint8_t leak[20] = {0x71, 0, 0x0F, 0, 0xFF, 0, 0x12, 0, 0xFE, 0};
  EXPECT_EQ(std::memcmp(image.data() + 76 * 20, leak, 20), 0);
  for (std::size_t code = 0; code < kEventCodes; ++code) {
    for (std::size_t i = 0; i < kEventListValues; ++i) {
      const std::uint8_t* at = image.data() + code * 20 + i * 2;
      ASSERT_EQ(at[0] | (at[1] << 8), kBuiltInEventLists[code][i]) << code << "/" << i;
    }
  }
}

TEST(ConfigurationEventTables, BuiltInNamesAreZeroFilledSlots) {
  const char* expected[] = {"LEAK",       "LOW RESERV BAT", "RESTORE RESERV BAT",
                            "LEAK FIXED", "NOISE",          "NOISE FIXED"};
  for (std::size_t i = 0; i < kBuiltInEventNameCount; ++i) {
    const BuiltInEventName& name = kBuiltInEventNames[i];
    EXPECT_EQ(name.code, 76 + i);
    const std::size_t length = std::strlen(expected[i]);
    EXPECT_EQ(std::memcmp(name.slot, expected[i], length), 0);
    EXPECT_TRUE(std::all_of(name.slot + length, name.slot + kEventNameSlotSize, [](char c) {
      return c == 0;
    })) << expected[i];
  }
}

// An older image in which every byte tells where it came from: record bytes carry their record
// and offset, the rest counts up from offset 1,024.
Bytes OlderImage() {
  Bytes image(kOldImageSize);
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    for (std::size_t b = 0; b < kOldRecordSize; ++b) {
      image[r * kOldRecordSize + b] = static_cast<std::uint8_t>(0x80 + r * 3 + b);
    }
  }
  for (std::size_t i = kOldRecordArea; i < kOldImageSize; ++i) {
    image[i] = static_cast<std::uint8_t>(i - kOldRecordArea);
  }
  return image;
}

TEST(ConfigurationConversion, RecordsMoveFieldByField) {
  Bytes old = OlderImage();
  const Bytes original = old;
  Bytes out;
  ConvertConfiguration(old, out);
  ASSERT_EQ(out.size(), kNewImageSize);
  for (std::size_t r = 0; r < kRecordCount; ++r) {
    const std::uint8_t* a = original.data() + r * 32;
    const std::uint8_t* b = out.data() + r * 36;
    Bytes expected(36, 0);
    std::memcpy(&expected[0], a, 22);       // bytes 0, 1, the 16-byte and the 4-byte block
    std::memcpy(&expected[24], a + 24, 4);  // 32-bit value
    std::memcpy(&expected[30], a + 28, 2);  // first 16-bit value
    std::memcpy(&expected[32], a + 30, 2);  // second 16-bit value
    EXPECT_EQ(Bytes(b, b + 36), expected) << "record " << r;
  }
  // The two 16-bit values differ, so a swap would show.
  EXPECT_NE(out[30], out[32]);
  EXPECT_EQ(out[28], 0);
}

TEST(ConfigurationConversion, RestMovesUpBy256WithPatchedTables) {
  Bytes old = OlderImage();
  // The file's own tables: names slot by slot, lists all 0xAB.
  for (std::size_t c = 0; c < kEventCodes; ++c) {
    std::memset(&old[kOldEventNamesOffset + c * 33], static_cast<int>('A' + c % 26), 33);
  }
  std::memset(&old[kOldEventListsOffset], 0xAB, kEventListTableSize);
  const Bytes original = old;
  Bytes out;
  ConvertConfiguration(old, out);
  ASSERT_EQ(out.size(), 44916u);

  EXPECT_TRUE(std::all_of(out.begin() + 1152, out.begin() + 1280, [](auto v) { return v == 0; }));
  // Not interpreted: offsets 1,024 ... 31,091 of the older image land at 1,280 ... 31,347.
  EXPECT_EQ(out[1280], 0);
  EXPECT_EQ(out[1281], 1);
  EXPECT_TRUE(std::equal(original.begin() + 1024, original.begin() + 31092, out.begin() + 1280));

  const std::uint8_t* names = out.data() + 31348;
  for (std::size_t c = 0; c < kEventCodes; ++c) {
    const std::uint8_t* slot = names + c * 33;
    if (c >= 76 && c <= 81) {
      const BuiltInEventName& name = kBuiltInEventNames[c - 76];
      EXPECT_EQ(std::memcmp(slot, name.slot, 33), 0) << "slot " << c;
    } else {
      EXPECT_EQ(std::memcmp(slot, &original[kOldEventNamesOffset + c * 33], 33), 0) << "slot " << c;
    }
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(names + 76 * 33)), "LEAK");
  EXPECT_EQ(names[75 * 33], 'A' + 75 % 26);
  EXPECT_EQ(names[82 * 33], 'A' + 82 % 26);

  const auto lists = BuiltInEventListImage();
  EXPECT_TRUE(std::equal(lists.begin(), lists.end(), out.begin() + 39796));
}

TEST(ConfigurationConversion, RefusesAnImageOfAnotherSize) {
  for (std::size_t size : {std::size_t{0}, kOldImageSize - 1, kNewImageSize}) {
    Bytes old(size, 0x11);
    Bytes out{1, 2, 3};
    EXPECT_THROW(ConvertConfiguration(old, out), CMBoxExeption) << size;
    EXPECT_EQ(old, Bytes(size, 0x11));
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
  }
}

}  // namespace
