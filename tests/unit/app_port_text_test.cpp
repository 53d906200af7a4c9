// The port edit's repair rule and the port a task is given.

#include <gtest/gtest.h>

#include <string>

#include "app/rules/port_text.h"

namespace {

using orvel::app::CaretAfterRepair;
using orvel::app::PortFromText;
using orvel::app::RepairPortText;

struct Case {
  std::wstring typed;
  bool rewrite;
  std::wstring shown;
};

TEST(PortText, CleanTextsStandAsTyped) {
  for (const Case& c : {Case{L"", false, L""}, Case{L"0", false, L"0"}, Case{L"1", false, L"1"},
                        Case{L"4001", false, L"4001"}, Case{L"65534", false, L"65534"},
                        Case{L"00000", false, L"00000"}}) {
    const auto repair = RepairPortText(c.typed);
    EXPECT_EQ(repair.rewrite, c.rewrite) << c.typed.size();
    EXPECT_EQ(repair.text, c.shown);
  }
}

TEST(PortText, NonDigitsAreDroppedAndTheValueCapped) {
  for (const Case& c : {
           Case{L"12x34", true, L"1234"},   // a letter typed among digits
           Case{L"12ab34", true, L"1234"},  // pasted
           Case{L"x", true, L"0"},          // a letter into the empty edit
           Case{L"-5", true, L"0"},         // a negative value shows 0
           Case{L"+7", true, L"7"}, Case{L" 80", true, L"80"}, Case{L"70000", true, L"65535"},
           Case{L"65535", true, L"65535"},  // the top value itself counts as a repair
           Case{L"99999999999999999999", true, L"65535"},
           // The digits left after the letters are gone are capped too.
           Case{L"8a0000", true, L"65535"}, Case{L"1a99999", true, L"65535"},
           Case{L"6a5535", true, L"65535"},
           Case{L"١٢", true, L"0"},  // digits of other scripts are not decimal digits here
       }) {
    const auto repair = RepairPortText(c.typed);
    EXPECT_EQ(repair.rewrite, c.rewrite);
    EXPECT_EQ(repair.text, c.shown);
  }
}

TEST(PortText, TheCaretGoesBackToTheRejectedCharacter) {
  EXPECT_EQ(CaretAfterRepair(3), 2);
  EXPECT_EQ(CaretAfterRepair(1), 0);
  EXPECT_EQ(CaretAfterRepair(0), 0);
}

TEST(PortText, TheTaskReadsTheTextInBaseTenCutToSixteenBits) {
  EXPECT_EQ(PortFromText(L""), 0);
  EXPECT_EQ(PortFromText(L"4001"), 4001);
  EXPECT_EQ(PortFromText(L"65535"), 65535);
  EXPECT_EQ(PortFromText(L"99999"), static_cast<std::uint16_t>(99999));
  EXPECT_EQ(PortFromText(L"0800"), 800);  // base 10, not octal
  EXPECT_EQ(PortFromText(L"abc"), 0);
}

}  // namespace
