// The "Settings.ini" record and the dotted texts of the dialog's address controls.

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "app/rules/settings_record.h"
#include "platform/utf8.h"

namespace {

using orvel::app::FormatSettingsRecord;
using orvel::app::InterfaceAddressFromText;
using orvel::app::PackAddress;
using orvel::app::ParseDottedFields;
using orvel::app::ParseSettingsRecord;
using orvel::app::SettingsRecord;
using Fields = std::array<std::uint16_t, 4>;

TEST(SettingsRecord, ReadsTheRecord) {
  const SettingsRecord record = ParseSettingsRecord(L"192.168.0.10:40000");
  EXPECT_EQ(record.address, (Fields{192, 168, 0, 10}));
  EXPECT_EQ(record.port, 40000);
  EXPECT_EQ(record.fieldsRead, 5);
  EXPECT_FALSE(record.outOfRange);
  EXPECT_EQ(PackAddress(record.address), 0xC0A8000Au);
}

// A field that no 16-bit reading could tell apart from a good one (99999 reads as 34463) still
// makes the record bad: it is read wider than it is kept.
TEST(SettingsRecord, FieldsOutOfRangeMakeABadRecord) {
  const struct {
    const wchar_t* text;
    bool bad;
  } cases[] = {
      {L"300.1.2.3:80", true},
      {L"999.1.1.1:99999", true},
      {L"10.0.0.2:109336", true},
      {L"10.0.0.2:65536", true},
      {L"65536.1.2.3:1", true},
      {L"-1.0.0.0:1", true},
      {L"1.2.3.4:99999999999999", true},
      {L"255.255.255.255:65535", false},
      {L"10.0.0.5", false},
      {L"10.0.x.999:1", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseSettingsRecord(c.text).outOfRange, c.bad) << orvel::ToUtf8(c.text);
  }
}

TEST(SettingsRecord, FieldsThatAreNotThereAreZero) {
  EXPECT_EQ(ParseSettingsRecord(L"").address, (Fields{0, 0, 0, 0}));
  const SettingsRecord partial = ParseSettingsRecord(L"10.0.x.5:4001");
  EXPECT_EQ(partial.address, (Fields{10, 0, 0, 0}));
  EXPECT_EQ(partial.port, 0);
  const SettingsRecord noPort = ParseSettingsRecord(L"10.0.0.5");
  EXPECT_EQ(noPort.address, (Fields{10, 0, 0, 5}));
  EXPECT_EQ(noPort.port, 0);
  // A space before a number is skipped, a space before a separator ends the record.
  EXPECT_EQ(ParseSettingsRecord(L" 1. 2.3.4:5").port, 5);
  EXPECT_EQ(ParseSettingsRecord(L"1.2.3.4 :5").port, 0);
}

TEST(SettingsRecord, LineEndsBeforeANumberAreSkippedLikeSpaces) {
  // A hand-edited file: an empty first line, the port on a line of its own.
  const SettingsRecord record = ParseSettingsRecord(L"\n10.0.0.5:\n4001\n");
  EXPECT_EQ(record.address, (Fields{10, 0, 0, 5}));
  EXPECT_EQ(record.port, 4001);
  EXPECT_EQ(ParseSettingsRecord(L"10.0.0.5\n:4001").port, 0);
}

TEST(SettingsRecord, WritesOneRecordWithoutLineEnd) {
  EXPECT_EQ(FormatSettingsRecord({{10, 0, 0, 5}, 4001}), L"10.0.0.5:4001");
  EXPECT_EQ(FormatSettingsRecord({{0, 0, 0, 0}, 0}), L"0.0.0.0:0");
  EXPECT_EQ(FormatSettingsRecord({{65535, 255, 1, 2}, 65535}), L"65535.255.1.2:65535");
  // What is written reads back the same.
  const SettingsRecord record{{192, 168, 0, 10}, 40000};
  const SettingsRecord back = ParseSettingsRecord(FormatSettingsRecord(record));
  EXPECT_EQ(back.address, record.address);
  EXPECT_EQ(back.port, record.port);
}

TEST(DottedText, TheAddressControlTextGivesFourFields) {
  EXPECT_EQ(ParseDottedFields(L"10.0.0.5"), (Fields{10, 0, 0, 5}));
  EXPECT_EQ(ParseDottedFields(L"1.2"), (Fields{1, 2, 0, 0}));
}

TEST(DottedText, AnInterfaceEntryPutsItsFirstNumberInTheTopByte) {
  EXPECT_EQ(InterfaceAddressFromText(L"192.168.1.10"), 0xC0A8010Au);
  EXPECT_EQ(InterfaceAddressFromText(L"127.0.0.1"), 0x7F000001u);
  EXPECT_EQ(InterfaceAddressFromText(L"256.0.0.1"), 0x00000001u);
  // Not four numbers (an empty list, for one): any interface.
  EXPECT_EQ(InterfaceAddressFromText(L""), 0u);
  EXPECT_EQ(InterfaceAddressFromText(L"192.168.1"), 0u);
  EXPECT_EQ(InterfaceAddressFromText(L"fe80::1"), 0u);
}

}  // namespace
