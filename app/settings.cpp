// Connection settings: "Settings.ini" into and out of the address control and the port edit, the
// list of local interfaces, and the port edit's repair.

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <memory>
#include <string>

#include "app/main_dialog.h"
#include "app/rules/port_text.h"
#include "app/rules/settings_record.h"
#include "app/window_text.h"
#include "common/address_list.h"
#include "device/interfaces.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

void CMainDlg::LoadSettings() {
  if (File file{::_wfopen(orvel::app::kSettingsFileName, L"rt")}) {
    // The record is read across line ends as formatted input would read it (white space, line
    // ends included, may stand before any number); a few lines are plenty for one short record.
    std::wstring text;
    wchar_t line[64] = {};
    while (text.size() < 1024 && std::fgetws(line, static_cast<int>(std::size(line)), file.get())) {
      text += line;
    }
    file.reset();

    const orvel::app::SettingsRecord record = orvel::app::ParseSettingsRecord(text);
    // A record that names no device is no record: the controls stay empty, as without the file.
    if (record.outOfRange) {
      FillInterfaceList();
      return;
    }
    ::SendMessageW(m_hAddress, IPM_SETADDRESS, 0,
                   static_cast<LPARAM>(orvel::app::PackAddress(record.address)));
    wchar_t port[8] = {};
    ::wsprintfW(port, L"%hu", record.port);
    // The edit reports the change, so the loaded text passes the same repair as a typed one.
    ::SetWindowTextW(m_hPort, port);
  }
  FillInterfaceList();
}

void CMainDlg::SaveSettings() {
  orvel::app::SettingsRecord record;
  record.address = orvel::app::ParseDottedFields(WindowText(m_hAddress, 15));
  record.port = orvel::app::PortFromText(WindowText(m_hPort, 5));

  File file{::_wfopen(orvel::app::kSettingsFileName, L"wt")};
  if (!file) return;  // silently not updated
  std::fputws(orvel::app::FormatSettingsRecord(record).c_str(), file.get());
}

void CMainDlg::FillInterfaceList() {
  try {
    for (const std::uint32_t address : orvel::LocalIPv4Interfaces()) {
      const std::string narrow = orvel::FormatIPv4(address);
      const std::wstring text(narrow.begin(), narrow.end());
      ::SendMessageW(m_hInterfaces, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
      ::SendMessageW(m_hInterfaces, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
  } catch (const std::exception&) {
    ::MessageBoxW(m_hWnd, L"Настройки соединение, ошибка получения IP интерфейса.", L"Ошибка.",
                  MB_ICONERROR);
  } catch (...) {
    ::MessageBoxW(m_hWnd, L"Ошибка номер 0x0019", L"Ошибка.", MB_ICONERROR);
  }
}

LRESULT CMainDlg::OnPortChange(WORD, WORD, HWND hWndCtl) {
  if (!m_portChangeByUser) {
    m_portChangeByUser = true;  // the echo of our own rewrite below
    return 0;
  }
  m_portChangeByUser = false;

  const orvel::app::PortRepair repair = orvel::app::RepairPortText(WindowText(hWndCtl, 199));
  if (repair.rewrite) {
    DWORD start = 0;
    DWORD end = 0;
    ::SendMessageW(hWndCtl, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    const int caret = orvel::app::CaretAfterRepair(static_cast<int>(start));
    ::SetWindowTextW(hWndCtl, repair.text.c_str());
    ::SendMessageW(hWndCtl, EM_SETSEL, static_cast<WPARAM>(caret), caret);
  }
  // Also when the rewrite above did not echo: the next change is the user's again.
  m_portChangeByUser = true;
  return 0;
}
