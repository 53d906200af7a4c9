#pragma once
// The connection record of "Settings.ini" and the dotted texts of the dialog's address controls,
// kept free of the window system so that they can be tested on their own.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvel::app {

// Where the connection settings persist: one record in the current directory.
inline constexpr wchar_t kSettingsFileName[] = L"Settings.ini";

// a.b.c.d:port, every field an unsigned 16-bit number as the file holds it (not yet cut to bytes).
struct SettingsRecord {
  std::array<std::uint16_t, 4> address{};
  std::uint16_t port = 0;
  int fieldsRead = 0;  // 0..5: the address fields, then the port
  // A field read is no address byte (0..255) or no port (0..65535): the record names no device
  // and counts as no record at all.
  bool outOfRange = false;
};

// Reads "a.b.c.d:port" from the start of the text as unsigned 16-bit decimal fields; the reading
// stops at the first field that does not match and every field not read is 0.
SettingsRecord ParseSettingsRecord(std::wstring_view text);

// The file's one record: "a.b.c.d:port", no line end.
std::wstring FormatSettingsRecord(const SettingsRecord& record);

// The four unsigned 16-bit fields of a dotted text "a.b.c.d"; fields not read are 0.
std::array<std::uint16_t, 4> ParseDottedFields(std::wstring_view text);

// Host order, first field in the most significant byte, each field taken modulo 256.
std::uint32_t PackAddress(const std::array<std::uint16_t, 4>& fields);

// The local address of an interface list entry "a.b.c.d" (signed decimal fields, each taken modulo
// 256); 0, any interface, when the text does not hold four numbers.
std::uint32_t InterfaceAddressFromText(std::wstring_view text);

}  // namespace orvel::app
