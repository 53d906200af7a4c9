// CMBoxExeption's normalising rules and the text helpers that feed it.

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

#include "common/error_report.h"
#include "common/text.h"
#include "platform/system_error.h"
#include "platform/utf8.h"
#include "support/scripted_desktop.h"

namespace {

TEST(ErrorReport, EmptyTextAndCaptionAndUnknownStyleAreNormalised) {
  const CMBoxExeption box(L"", L"", 5u);
  EXPECT_EQ(box.Text(), L"Oops, Unknown error.");
  EXPECT_EQ(box.Caption(), L"Ошибка.");
  EXPECT_EQ(box.Style(), 0x10u);
}

TEST(ErrorReport, StyleKindsMapToThreeIcons) {
  const std::pair<unsigned, unsigned> cases[] = {
      {1, 0x30}, {0x30, 0x30}, {0x40, 0x40}, {0x10, 0x10}, {0x24, 0x10}, {0, 0x10}, {0x124, 0x10}};
  for (const auto& [kind, stored] : cases) {
    EXPECT_EQ(CMBoxExeption(L"t", L"c", kind).Style(), stored) << kind;
  }
}

TEST(ErrorReport, DetailIsAppendedAfterOneSpaceOnlyWhenPresent) {
  const CMBoxExeption withPath(L"Не удаётся прочесть файл(ы):\n", L"Ошибка окрытия файла!",
                               std::wstring(L"C:\\conf.bin"), 0x10u);
  EXPECT_EQ(withPath.Text(), L"Не удаётся прочесть файл(ы):\n C:\\conf.bin");
  EXPECT_EQ(withPath.Caption(), L"Ошибка окрытия файла!");
  EXPECT_EQ(CMBoxExeption(L"text", L"c", std::wstring(), 0x40u).Text(), L"text");
  EXPECT_EQ(CMBoxExeption(L"", L"c", std::wstring(L"x"), 0x40u).Text(), L"Oops, Unknown error. x");
}

TEST(ErrorReport, SystemErrorCodeGivesTheSystemsText) {
  const unsigned long code = 2;  // "file not found" on both platforms
  const CMBoxExeption box(code, L"", 0x30u);
  EXPECT_EQ(box.Text(), orvel::SystemErrorText(code));
  EXPECT_FALSE(box.Text().empty());
  EXPECT_NE(box.Text(), L"Oops, Unknown error.");
  EXPECT_EQ(box.Caption(), L"Ошибка.");
  EXPECT_EQ(box.Style(), 0x30u);
}

TEST(ErrorReport, ShowPassesEverythingToTheDesktop) {
  orvel::test::ScriptedDesktop desktop;
  desktop.QueueBoxAnswer(mbox::kCancel);
  int owner = 0;
  EXPECT_EQ(CMBoxExeption(L"t", L"c", 1u).Show(desktop, &owner), mbox::kCancel);
  ASSERT_EQ(desktop.Boxes().size(), 1u);
  EXPECT_EQ(desktop.Boxes()[0].owner, &owner);
  EXPECT_EQ(desktop.Boxes()[0].text, L"t");
  EXPECT_EQ(desktop.Boxes()[0].caption, L"c");
  EXPECT_EQ(desktop.Boxes()[0].style, 0x30u);
}

TEST(ErrorReport, CaughtFailureIsShownAsThrownOrAsTheLastResortBox) {
  orvel::test::ScriptedDesktop desktop;
  int owner = 0;
  const auto show = [&](auto thrown) {
    try {
      throw thrown;
    } catch (...) {
      orvel::ShowCaughtFailure(desktop, &owner, L"Ошибка потока:0x0009");
    }
  };
  show(CMBoxExeption(L"Нет ответа", L"Ошибка обмена данными.", 0x30u));
  show(std::runtime_error("socket"));
  show(42);
  ASSERT_EQ(desktop.Boxes().size(), 3u);
  EXPECT_EQ(desktop.Boxes()[0].text, L"Нет ответа");
  EXPECT_EQ(desktop.Boxes()[0].caption, L"Ошибка обмена данными.");
  EXPECT_EQ(desktop.Boxes()[0].style, 0x30u);
  for (std::size_t i : {1u, 2u}) {
    EXPECT_EQ(desktop.Boxes()[i].owner, &owner);
    EXPECT_EQ(desktop.Boxes()[i].text, L"Ошибка потока:0x0009");
    EXPECT_EQ(desktop.Boxes()[i].caption, L"Ошибка.");
    EXPECT_EQ(desktop.Boxes()[i].style, 0x10u);
  }
}

TEST(Text, Widen1251MapsEveryByteToOneCharacter) {
  EXPECT_EQ(orvel::Widen1251("bind: ok"), L"bind: ok");
  // "Адрес" and "ёЁ" in code page 1251, then the euro sign, the numero sign and the unused 0x98.
  EXPECT_EQ(orvel::Widen1251("\xC0\xE4\xF0\xE5\xF1 \xB8\xA8"), L"Адрес ёЁ");
  EXPECT_EQ(orvel::Widen1251("\x88\xB9\x98\xFF"), std::wstring(L"\u20AC\u2116\u0098\u044F"));
  EXPECT_EQ(orvel::Widen1251(std::string_view("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Text, Utf8RoundTripAndReplacement) {
  const std::wstring russian = L"Ошибка обмена данными. \u20AC \U0001F600";
  EXPECT_EQ(orvel::FromUtf8(orvel::ToUtf8(russian)), russian);
  EXPECT_EQ(orvel::ToUtf8(L"Ё"), "\xD0\x81");
  EXPECT_EQ(orvel::FromUtf8("a\xFF"
                            "b"),
            L"a\uFFFDb");
  EXPECT_EQ(orvel::FromUtf8("\xD0"), L"\uFFFD");                      // cut short
  EXPECT_EQ(orvel::FromUtf8("\xC0\x80"), L"\uFFFD\uFFFD");            // overlong
  EXPECT_EQ(orvel::FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");  // a surrogate
  // Paths keep every byte: what is not UTF-8 is held apart from any text and comes back as it was.
  for (const std::string bytes : {"cfg\xFF.bin", "\xC0\x80\xED\xA0\x80\xD0", "конфигурация.bin"}) {
    EXPECT_EQ(orvel::PathToBytes(orvel::PathFromBytes(bytes)), bytes);
  }
  EXPECT_EQ(orvel::PathFromBytes("a\xFF"), L"a\xDCFF");
  EXPECT_EQ(orvel::PathFromBytes("Ё"), L"Ё");
}

}  // namespace
