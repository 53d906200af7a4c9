#pragma once
// The open/save file dialog: explorer style with a (default) hook and a sizing border, a name
// buffer of MAX_PATH characters, and the filter given as description/pattern pairs.

#include <windows.h>

#include <commdlg.h>

#include <string>

namespace fw {

class CFileDialog {
 public:
  CFileDialog(bool openFileDialog, const wchar_t* defaultExtension, const wchar_t* fileName,
              DWORD flags, const std::wstring& filterDescription, const std::wstring& filterPattern,
              HWND parent = nullptr)
      : m_open(openFileDialog),
        m_defaultExtension(defaultExtension ? defaultExtension : L""),
        // Each string of the pair ends with a zero, and one more zero ends the list.
        m_filter(filterDescription + L'\0' + filterPattern + L'\0' + L'\0') {
    if (fileName) lstrcpynW(m_fileName, fileName, MAX_PATH);
    m_ofn.lStructSize = sizeof m_ofn;
    m_ofn.hwndOwner = parent;
    m_ofn.lpstrFilter = m_filter.c_str();
    m_ofn.lpstrFile = m_fileName;
    m_ofn.nMaxFile = MAX_PATH;
    m_ofn.lpstrDefExt = m_defaultExtension.empty() ? nullptr : m_defaultExtension.c_str();
    m_ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
    m_ofn.lpfnHook = &HookProc;
  }
  CFileDialog(const CFileDialog&) = delete;
  CFileDialog& operator=(const CFileDialog&) = delete;

  // IDOK with the full path in m_fileName, IDCANCEL otherwise; -1 when the dialog could not be
  // prepared.
  INT_PTR DoModal(HWND owner = ::GetActiveWindow()) {
    if (m_ofn.lpstrFile != m_fileName || m_filter.size() < 3) return -1;
    if (!m_ofn.hwndOwner) m_ofn.hwndOwner = owner;
    const BOOL ok = m_open ? ::GetOpenFileNameW(&m_ofn) : ::GetSaveFileNameW(&m_ofn);
    return ok ? IDOK : IDCANCEL;
  }

  const wchar_t* FileName() const { return m_fileName; }
  const OPENFILENAMEW& Ofn() const { return m_ofn; }

 private:
  // The explorer-style hook: leaves every message to the dialog's own processing.
  static UINT_PTR CALLBACK HookProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

  bool m_open;
  std::wstring m_defaultExtension;
  std::wstring m_filter;
  wchar_t m_fileName[MAX_PATH] = {};
  OPENFILENAMEW m_ofn{};
};

}  // namespace fw
