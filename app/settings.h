#pragma once
// Where the connection settings persist: one record in the current directory.

inline constexpr wchar_t kSettingsFileName[] = L"Settings.ini";
