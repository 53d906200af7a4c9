#include "app/rules/settings_record.h"

#include <algorithm>
#include <cwctype>

namespace orvel::app {

namespace {

// One decimal field the way the C library's formatted input reads an integer: leading white space,
// an optional sign, at least one digit. The value is kept modulo 2^16, which is what a 16-bit
// target receives (and a byte taken from it afterwards is the same as from the full number).
class FieldReader {
 public:
  explicit FieldReader(std::wstring_view text) : m_text(text) {}

  // max: the largest value the field may hold; a larger one (or a negative one) is noted in
  // outOfRange, which the 16-bit value alone could not show.
  bool Number(std::uint16_t& out, unsigned max = 0xFFFF) {
    std::size_t i = m_pos;
    while (i < m_text.size() && std::iswspace(static_cast<wint_t>(m_text[i]))) ++i;
    bool negative = false;
    if (i < m_text.size() && (m_text[i] == L'+' || m_text[i] == L'-')) {
      negative = m_text[i] == L'-';
      ++i;
    }
    const std::size_t firstDigit = i;
    std::uint16_t value = 0;
    unsigned long long wide = 0;
    while (i < m_text.size() && m_text[i] >= L'0' && m_text[i] <= L'9') {
      const unsigned digit = static_cast<unsigned>(m_text[i] - L'0');
      value = static_cast<std::uint16_t>(value * 10u + digit);
      wide = std::min(wide * 10 + digit, 1ull << 32);
      ++i;
    }
    if (i == firstDigit) return false;
    out = negative ? static_cast<std::uint16_t>(0u - value) : value;
    if (wide > max || (negative && wide != 0)) outOfRange = true;
    m_pos = i;
    return true;
  }

  bool outOfRange = false;

  bool Literal(wchar_t c) {
    if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
    ++m_pos;
    return true;
  }

 private:
  std::wstring_view m_text;
  std::size_t m_pos = 0;
};

// Reads up to four dotted fields, each at most max; returns how many were read.
int ReadDotted(FieldReader& reader, std::array<std::uint16_t, 4>& fields, unsigned max = 0xFFFF) {
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && !reader.Literal(L'.')) return i;
    if (!reader.Number(fields[static_cast<std::size_t>(i)], max)) return i;
  }
  return 4;
}

}  // namespace

SettingsRecord ParseSettingsRecord(std::wstring_view text) {
  SettingsRecord record;
  FieldReader reader(text);
  record.fieldsRead = ReadDotted(reader, record.address, 0xFF);
  if (record.fieldsRead == 4 && reader.Literal(L':') && reader.Number(record.port)) {
    record.fieldsRead = 5;
  }
  record.outOfRange = reader.outOfRange;
  return record;
}

std::wstring FormatSettingsRecord(const SettingsRecord& record) {
  std::wstring text;
  for (std::size_t i = 0; i < record.address.size(); ++i) {
    if (i > 0) text += L'.';
    text += std::to_wstring(record.address[i]);
  }
  text += L':';
  text += std::to_wstring(record.port);
  return text;
}

std::array<std::uint16_t, 4> ParseDottedFields(std::wstring_view text) {
  std::array<std::uint16_t, 4> fields{};
  FieldReader reader(text);
  ReadDotted(reader, fields);
  return fields;
}

std::uint32_t PackAddress(const std::array<std::uint16_t, 4>& fields) {
  std::uint32_t address = 0;
  for (std::uint16_t field : fields) address = (address << 8) | (field & 0xFFu);
  return address;
}

std::uint32_t InterfaceAddressFromText(std::wstring_view text) {
  std::array<std::uint16_t, 4> fields{};
  FieldReader reader(text);
  if (ReadDotted(reader, fields) != 4) return 0;
  return PackAddress(fields);
}

}  // namespace orvel::app
