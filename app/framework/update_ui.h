#pragma once
// UI-update support: keeps the windows whose child controls follow an update map. The dialog's map
// is empty, so registering a container is all that happens.

#include <windows.h>

#include <vector>

namespace fw {

template <class T>
class CUpdateUI {
 public:
  BOOL UIAddChildWindowContainer(HWND hWnd) {
    m_containers.push_back(hWnd);
    return TRUE;
  }
  // Nothing to bring up to date with an empty map.
  BOOL UIUpdateChildWindows() { return TRUE; }

 private:
  std::vector<HWND> m_containers;
};

}  // namespace fw
