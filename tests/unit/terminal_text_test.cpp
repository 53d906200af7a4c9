// Text from outside (arguments, file contents, file names) on its way to a terminal: every byte
// that could move the cursor, clear the screen or set a title is shown escaped instead.

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace orvel {
namespace {

TEST(TerminalText, ControlsAndBrokenUtf8AreShownEscaped) {
  struct Case {
    std::string text;
    std::string shown;
    std::string shownKeepingLineBreaks;
  };
  for (const Case& c : {
           Case{"cfg-10.0.0.5.bin", "cfg-10.0.0.5.bin", "cfg-10.0.0.5.bin"},
           Case{"\x1b[2J127.0.0.2", "\\x1b[2J127.0.0.2", "\\x1b[2J127.0.0.2"},
           Case{"a\x01\x07\x7f", "a\\x01\\x07\\x7f", "a\\x01\\x07\\x7f"},
           Case{"a\tb\rc\nd", "a\\tb\\rc\\nd", "a\\tb\\rc\nd"},
           Case{std::string("a\0b", 3), "a\\x00b", "a\\x00b"},
           // C1 controls (U+009B is a one-character "ESC ["), and bytes that are no UTF-8.
           Case{"\xc2\x9b"
                "2J",
                "\\u009b2J", "\\u009b2J"},
           Case{"cfg\xff.bin", "cfg\\xff.bin", "cfg\\xff.bin"},
           Case{"\xc3(\xe2\x82", "\\xc3(\\xe2\\x82", "\\xc3(\\xe2\\x82"},
           Case{"\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},  // a surrogate
           Case{"\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},                // overlong "/"
           // Everything else stays as it is: Cyrillic, signs, backslashes of Windows paths.
           Case{"Ошибка записи файла! C:\\Temp\\конфиг € 😀",
                "Ошибка записи файла! C:\\Temp\\конфиг € 😀",
                "Ошибка записи файла! C:\\Temp\\конфиг € 😀"},
       }) {
    EXPECT_EQ(TerminalText(c.text), c.shown) << c.text;
    EXPECT_EQ(TerminalText(c.text, true), c.shownKeepingLineBreaks) << c.text;
  }
}

}  // namespace
}  // namespace orvel
