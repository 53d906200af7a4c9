// The built-in event-list table, checked entry by entry against a second transcription of the
// device documentation, written in its own compact form ("code: leading values" in hexadecimal).
// A slip in any one value of the table's one-line-per-code form shows up here.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/event_tables.h"
#include "session/device_session.h"
#include "support/scripted_session.h"

namespace {

using Values = std::vector<std::uint16_t>;

// Lists made of their leading values followed by 0F FF 12 FE.
constexpr const char* kWithTail =
    "1: 1C; 2: 1B; 3: 14; 4: 97; 6: 97 98; 19: 7E 7F; 20: 7E 80; 21: 81; 26: 6F; 27: 6E; 29: 82; "
    "31: 83 84; 33: 96; 35: 6D; 36: 6C; 37: 11; 38: 6C; 40: 11; 41: 62 80; 44: 67; 45: 62; "
    "46: 21; 47: 22; 58: 14; 71: 74; 72: 75; 74: 76; 75: 9D 76; 76: 71; 77: 9D 74; 78: 73; "
    "79: 99 9A; 80: 99 9A 98; 82: 62; 90: 25; 91: 26; 118: 14; 121: 62; 122: 62; 123: 83 85; "
    "126: 69; 127: 6A; 128: 78; 130: 79; 131: 7A; 135: 86; 136: 20; 139: 87 88 8F; 140: 7E 80; "
    "141: 89 8A; 142: 8B 8C; 143: 93 8A 8F; 144: 8D; 145: 8E 88 8F; 146: 88 8F; 147: 90 8A 8F; "
    "148: 8B 91; 149: 1E; 150: 88 92; 151: 93 8A 92; 152: 1F; 153: 7C; 154: 7D; 155: 7B; "
    "156: 7B; 165: 62; 187: 25 9E; 188: 26 9E; 189: 21; 190: 21; 191: 22; 192: 18; 193: 1A; "
    "194: 18; 196: 62 9C; 197: 83 9C; 198: 18; 199: 1A; 200: 1A; 201: 22; 202: 18; 203: 20; "
    "204: 62; 205: 18; 206: 72; 211: 18; 214: 62; 215: 21; 217: 25; 218: 26; 220: 94 95; "
    "222: 21; 224: 21; 225: 21; 250: 25; 251: 26; 252: 70";

// Lists given whole.
constexpr const char* kWhole =
    "17: 0F FF 10; 84: 17; 110: 68; 223: 6B; 241: 0E 0F FF 0D FD; 242: 0B 0F FF 0D FD; 249: 17; "
    "255: 66";

void Parse(const char* text, const Values& tail, std::map<int, Values>& into) {
  std::stringstream entries(text);
  std::string entry;
  while (std::getline(entries, entry, ';')) {
    std::stringstream fields(entry);
    int code = -1;
    char colon = 0;
    fields >> code >> colon;
    ASSERT_EQ(colon, ':') << entry;
    ASSERT_EQ(into.count(code), 0u) << "code " << code << " given twice";
    Values values;
    unsigned value = 0;
    while (fields >> std::hex >> value) values.push_back(static_cast<std::uint16_t>(value));
    ASSERT_FALSE(values.empty()) << entry;
    values.insert(values.end(), tail.begin(), tail.end());
    into[code] = values;
  }
}

TEST(EventListTable, EveryEntryOfTheBuiltInListTable) {
  std::map<int, Values> expected;
  Parse(kWithTail, {0x0F, 0xFF, 0x12, 0xFE}, expected);
  Parse(kWhole, {}, expected);
  ASSERT_EQ(expected.size(), 97u + 8u);

  // What the conversion puts into a table, whatever the table held before.
  std::vector<std::uint8_t> table(orvel::config::kEventListTableSize, 0xA5);
  orvel::test::ScriptedSession scripted;
  scripted.session.PatchEventLists(table.data());

  for (int code = 0; code < 256; ++code) {
    Values want = expected.count(code) ? expected[code] : Values{};
    want.resize(orvel::config::kEventListValues, 0);  // zero after the end of the list
    Values got;
    for (std::size_t i = 0; i < orvel::config::kEventListValues; ++i) {
      const std::uint8_t* at = table.data() + code * 20 + i * 2;
      got.push_back(static_cast<std::uint16_t>(at[0] | (at[1] << 8)));
    }
    EXPECT_EQ(got, want) << "event code " << code;
  }
}

}  // namespace
