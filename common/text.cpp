#include "common/text.h"

#include <array>
#include <cstdio>

namespace orvel {
namespace {

// Code page 1251, bytes 0x80..0xFF. 0x98 has no character of its own; Windows maps it to U+0098,
// and so do we, so that every byte still yields exactly one character.
constexpr std::array<char16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0: А..
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0: а..
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443,
    0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

void AppendEscape(std::string& out, const char* format, unsigned value) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, value);
  out += escape;
}

// The length of the valid UTF-8 sequence at the start of text (its code point in cp), 0 when the
// first byte starts none: a stray continuation byte, an overlong form, a surrogate, beyond
// U+10FFFF, or cut short.
std::size_t Utf8Sequence(std::string_view text, char32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  return length;
}

}  // namespace

std::string TerminalText(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text.front());
    if (byte >= 0x80) {
      char32_t cp = 0;
      const std::size_t length = Utf8Sequence(text, cp);
      if (length == 0) {
        AppendEscape(out, "\\x%02x", byte);
        text.remove_prefix(1);
      } else {
        if (cp <= 0x9F) {
          AppendEscape(out, "\\u%04x", static_cast<unsigned>(cp));
        } else {
          out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
      }
      continue;
    }
    text.remove_prefix(1);
    if (byte == '\n' && keepLineBreaks) {
      out += '\n';
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendEscape(out, "\\x%02x", byte);
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

std::wstring Widen1251(std::string_view narrow) {
  std::wstring wide;
  wide.reserve(narrow.size());
  for (char c : narrow) {
    const auto byte = static_cast<unsigned char>(c);
    wide.push_back(byte < 0x80 ? static_cast<wchar_t>(byte)
                               : static_cast<wchar_t>(kCp1251High[byte - 0x80]));
  }
  return wide;
}

}  // namespace orvel
