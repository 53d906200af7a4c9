// orvel-gui-driver: starts OrvelTools.exe, finds its dialog, reads its controls and drives it the
// way a person would (mouse clicks, keystrokes, the clipboard), answering its file dialogs and
// message boxes. Every wait is bounded. Runs under the same Wine prefix as the tool.
//
//   orvel-gui-driver <scenario> <OrvelTools.exe> <working folder> [scenario arguments]
//
// Prints one "ok: ..." line per check and "PASS"; on the first failed check prints "FAIL: ..." and
// ends the tool. Exit status 0 only after PASS.

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

namespace {

// --- the dialog as the tool's resources define it ---
constexpr int kReadConfig = 1000;
constexpr int kWriteConfig = 1001;
constexpr int kWriteProgram = 1002;
constexpr int kProgress = 1003;
constexpr int kAddress = 1004;
constexpr int kPort = 1005;
constexpr int kUpdate = 1006;
constexpr int kInterfaces = 1007;
constexpr int kInterfacesLabel = 1008;
constexpr int kStatus = 1009;
constexpr int kInputControls[] = {kAddress,     kPort,         kInterfaces, kReadConfig,
                                  kWriteConfig, kWriteProgram, kUpdate};

const std::wstring kIdleText = L"Ход выполнения задачи";
const std::wstring kNoAnswerText =
    L"Нет ответа от прибора!\nПроверьте состояние тампера прибора - тампер должен быть открыт.";
const std::wstring kNoAnswerCaption = L"Ошибка обмена данными.";
const std::wstring kCloseQuestion =
    L"Дождитесь завершение работы задачи.\nВынужденное завершение задачи может привести к "
    L"некорректной работе прибора или выходу его из строя.\nПродолжить завершение работы "
    L"программы?";

const std::wstring kProgramCancelledText =
    L"Не указано название и место расположения файла! Запись программы в прибор отменена.";
const std::wstring kReadCancelledText =
    L"Не указано название и место расположения файла! Чтение конфигурации отменено.";
const std::wstring kUpdateCancelledText = L"Обновление прибора отменено.";

constexpr DWORD kFileNameCombo = 0x47C;  // cmb13 of the common file dialog
constexpr DWORD kFileNameEdit = 0x480;   // edt1, the old-style name box

// --- reporting ---

PROCESS_INFORMATION g_tool{};  // the one process under test, ended on failure

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Quote(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One line of the report: the prefix, then the message.
void Report(const char* prefix, const char* format, std::va_list args) {
  std::printf("%s", prefix);
  std::vprintf(format, args);
  std::printf("\n");
  std::fflush(stdout);
}

[[noreturn]] void Fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  Report("FAIL: ", format, args);
  va_end(args);
  if (g_tool.hProcess) TerminateProcess(g_tool.hProcess, 99);
  std::exit(1);
}

void Ok(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  Report("ok: ", format, args);
  va_end(args);
}

// Polls every 20 ms until the condition holds; false after timeoutMs.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

void Expect(bool condition, const char* what) {
  if (!condition) Fail("%s", what);
  Ok("%s", what);
}

// --- reading another process's windows (only messages that carry no pointers, or text) ---

std::wstring Text(HWND hWnd) {
  wchar_t buffer[1024] = {};
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, std::size(buffer), reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 3000, &result)) {
    return L"<no answer>";
  }
  return buffer;
}

LRESULT Send(HWND hWnd, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hWnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, 3000, &result)) {
    Fail("window %p did not answer message %u", static_cast<void*>(hWnd), msg);
  }
  return static_cast<LRESULT>(result);
}

std::wstring ClassName(HWND hWnd) {
  wchar_t name[128] = {};
  GetClassNameW(hWnd, name, static_cast<int>(std::size(name)));
  return name;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::vector<HWND> ToolWindows() {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{g_tool.dwProcessId, {}};
  EnumWindows(
      [](HWND hWnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        if (pid == s->pid && IsWindowVisible(hWnd)) s->found.push_back(hWnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindDescendant(HWND parent, int id) {
  struct Search {
    int id;
    HWND found;
  } search{id, nullptr};
  EnumChildWindows(
      parent,
      [](HWND hWnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (GetDlgCtrlID(hWnd) == s->id) {
          s->found = hWnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// --- the person at the keyboard and the mouse ---

void SendInputs(std::vector<INPUT> inputs) {
  if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size()) {
    Fail("SendInput refused the input");
  }
  Sleep(30);
}

INPUT Key(WORD vk, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

void PressKey(WORD vk) { SendInputs({Key(vk, false), Key(vk, true)}); }

// A key pressed in the given top-level window, brought to the front first.
void PressKeyIn(HWND window, WORD vk) {
  SetForegroundWindow(window);
  WaitFor([&] { return GetForegroundWindow() == window; }, 2000);
  PressKey(vk);
}

void PressChord(WORD modifier, WORD vk) {
  SendInputs({Key(modifier, false), Key(vk, false), Key(vk, true), Key(modifier, true)});
}

void TypeText(const std::wstring& text) {
  for (wchar_t c : text) {
    INPUT down{};
    down.type = INPUT_KEYBOARD;
    down.ki.wScan = c;
    down.ki.dwFlags = KEYEVENTF_UNICODE;
    INPUT up = down;
    up.ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInputs({down, up});
  }
}

void Click(HWND hWnd) {
  RECT rect{};
  if (!GetWindowRect(hWnd, &rect)) Fail("no window to click");
  const int x = (rect.left + rect.right) / 2;
  const int y = (rect.top + rect.bottom) / 2;
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT move{};
  move.type = INPUT_MOUSE;
  move.mi.dx = MulDiv(x, 65535, width - 1);
  move.mi.dy = MulDiv(y, 65535, height - 1);
  move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  INPUT down = move;
  down.mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  INPUT up = move;
  up.mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  SendInputs({move});
  SendInputs({down, up});
}

// A Unix path for a path on Wine's drive Z:, where the scripts put every folder of the tests.
std::wstring UnixPath(const std::wstring& path) {
  if (path.size() < 3 || (path[0] != L'Z' && path[0] != L'z') || path[1] != L':') {
    Fail("%s is not on drive Z:", Utf8(path).c_str());
  }
  std::wstring unix = path.substr(2);
  std::replace(unix.begin(), unix.end(), L'\\', L'/');
  return unix;
}

// A click the way a person's mouse makes it under Wine: a button press that the X server delivers
// to the tool's X window, made with xdotool (ORVEL_XDOTOOL), where SendInput would put the click
// straight into Wine's input queue. Wine starts a Unix program through CreateProcess but hands back
// nothing to wait on, so the command leaves a marker file (in folder) once xdotool has clicked.
void ClickThroughX(HWND hWnd, const std::wstring& folder) {
  const wchar_t* xdotool = _wgetenv(L"ORVEL_XDOTOOL");
  if (!xdotool || !*xdotool) Fail("ORVEL_XDOTOOL names no xdotool");
  RECT rect{};
  if (!GetWindowRect(hWnd, &rect)) Fail("no window to click");
  const std::wstring marker = folder + L"\\x-click.done";
  DeleteFileW(marker.c_str());
  std::wstring command = L"sh -c \"'" + std::wstring(xdotool) + L"' mousemove --sync " +
                         std::to_wstring((rect.left + rect.right) / 2) + L" " +
                         std::to_wstring((rect.top + rect.bottom) / 2) + L" click 1 && : >'" +
                         UnixPath(marker) + L"'\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Fail("cannot start xdotool (error %lu)", GetLastError());
  }
  if (process.hThread) CloseHandle(process.hThread);
  if (process.hProcess) CloseHandle(process.hProcess);
  if (!WaitFor([&] { return GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES; },
               5000)) {
    Fail("xdotool did not click within 5 s");
  }
}

void PutOnClipboard(const std::wstring& text) {
  if (!WaitFor([] { return OpenClipboard(nullptr) != FALSE; }, 3000)) Fail("clipboard busy");
  EmptyClipboard();
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  CloseClipboard();
}

// --- the tool ---

struct Tool {
  HWND dialog = nullptr;
  DWORD uiThread = 0;
  std::wstring folder;  // the tool's working folder

  HWND Item(int id) const { return GetDlgItem(dialog, id); }
  std::wstring ItemText(int id) const { return Text(Item(id)); }
  int BarPos() const { return static_cast<int>(Send(Item(kProgress), PBM_GETPOS)); }
  bool ControlsEnabled(bool enabled) const {
    for (int id : kInputControls) {
      if ((IsWindowEnabled(Item(id)) != FALSE) != enabled) return false;
    }
    return true;
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(uiThread, &info)) return nullptr;
    return info.hwndFocus;
  }
  bool Idle() const {
    return BarPos() == 0 && ItemText(kStatus) == kIdleText && ControlsEnabled(true);
  }

  // Makes the dialog the window that takes the keyboard, as a click on its caption would.
  void Activate() const {
    SetForegroundWindow(dialog);
    WaitFor([&] { return GetForegroundWindow() == dialog; }, 2000);
  }
  void ClickItem(int id) const { Click(Item(id)); }
  void ClickItemThroughX(int id) const { ClickThroughX(Item(id), folder); }
  // Focuses the port edit and replaces its whole text by typing.
  void TypeIntoPort(const std::wstring& text) const {
    ClickItem(kPort);
    if (!WaitFor([&] { return Focus() == Item(kPort); }, 3000)) Fail("port edit takes no focus");
    PressKey(VK_END);
    SendInputs(
        {Key(VK_SHIFT, false), Key(VK_HOME, false), Key(VK_HOME, true), Key(VK_SHIFT, true)});
    PressKey(VK_DELETE);
    TypeText(text);
  }
  DWORD PortCaret() const { return LOWORD(Send(Item(kPort), EM_GETSEL)); }
};

HWND FindMainDialog() {
  for (HWND hWnd : ToolWindows()) {
    if (ClassName(hWnd) == L"#32770" && Text(hWnd) == L"OrvelTools") return hWnd;
  }
  return nullptr;
}

Tool Start(const std::wstring& exe, const std::wstring& folder) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &g_tool)) {
    Fail("cannot start %s (error %lu)", Utf8(exe).c_str(), GetLastError());
  }
  Tool tool;
  tool.folder = folder;
  if (!WaitFor([&] { return (tool.dialog = FindMainDialog()) != nullptr; }, 30000)) {
    Fail("the dialog \"OrvelTools\" did not appear within 30 s");
  }
  tool.uiThread = GetWindowThreadProcessId(tool.dialog, nullptr);
  // The dialog is shown after it has initialised; give the first paint a moment.
  WaitForInputIdle(g_tool.hProcess, 5000);
  Ok("dialog found");
  return tool;
}

DWORD WaitExit(DWORD timeoutMs) {
  if (WaitForSingleObject(g_tool.hProcess, timeoutMs) != WAIT_OBJECT_0) {
    Fail("the tool did not end within %lu ms", timeoutMs);
  }
  DWORD code = 0;
  GetExitCodeProcess(g_tool.hProcess, &code);
  CloseHandle(g_tool.hProcess);
  CloseHandle(g_tool.hThread);
  g_tool = {};
  return code;
}

// The whole content of a small file; empty when it cannot be read.
std::string FileContent(const std::wstring& path) {
  std::string content;
  if (FILE* file = _wfopen(path.c_str(), L"rb")) {
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
      content.append(buffer, n);
    }
    std::fclose(file);
  }
  return content;
}

// Overwrites the folder's Settings.ini, so that only a later save can put a record back.
void SpoilSettings(const std::wstring& folder) {
  if (FILE* spoiled = _wfopen((folder + L"\\Settings.ini").c_str(), L"wb")) {
    std::fputs("spoiled", spoiled);
    std::fclose(spoiled);
  }
}

// Closes the dialog with Alt+F4 as the person would.
void CloseWithKeyboard(const Tool& tool) {
  tool.Activate();
  PressChord(VK_MENU, VK_F4);
}

// A top-level window of the tool other than the main dialog: a message box or a file dialog.
struct Popup {
  HWND window = nullptr;
  std::wstring caption;
  std::wstring text;  // the message of a box: its static texts, joined by line breaks
};

std::wstring StaticTexts(HWND box) {
  std::wstring joined;
  EnumChildWindows(
      box,
      [](HWND hWnd, LPARAM param) -> BOOL {
        if (SameText(ClassName(hWnd), L"Static")) {
          const std::wstring text = Text(hWnd);
          if (!text.empty()) {
            auto* out = reinterpret_cast<std::wstring*>(param);
            if (!out->empty()) *out += L"\n";
            *out += text;
          }
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&joined));
  return joined;
}

bool IsFileDialog(HWND hWnd) {
  return FindDescendant(hWnd, kFileNameCombo) || FindDescendant(hWnd, kFileNameEdit);
}

Popup WaitPopup(const Tool& tool, bool fileDialog, DWORD timeoutMs, const char* what) {
  Popup popup;
  const bool found = WaitFor(
      [&] {
        for (HWND hWnd : ToolWindows()) {
          if (hWnd == tool.dialog || ClassName(hWnd) != L"#32770") continue;
          if (IsFileDialog(hWnd) != fileDialog) continue;
          popup.window = hWnd;
          return true;
        }
        return false;
      },
      timeoutMs);
  if (!found) Fail("%s did not appear within %lu ms", what, timeoutMs);
  Sleep(200);  // let it finish initialising before it is read and answered
  popup.caption = Text(popup.window);
  if (!fileDialog) popup.text = StaticTexts(popup.window);
  return popup;
}

void WaitGone(HWND hWnd, DWORD timeoutMs, const char* what) {
  if (!WaitFor([&] { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); }, timeoutMs)) {
    Fail("%s stayed open", what);
  }
}

void PressBoxButton(const Popup& box, int id) {
  HWND button = GetDlgItem(box.window, id);
  if (!button) Fail("the box %s has no button %d", Quote(box.caption).c_str(), id);
  Click(button);
  WaitGone(box.window, 5000, "the message box");
}

// Types the path into the file dialog's name box and confirms with its OK button.
void AnswerFileDialog(const Popup& dialog, const std::wstring& path) {
  HWND name = FindDescendant(dialog.window, kFileNameCombo);
  if (name) {
    if (HWND edit = FindWindowExW(name, nullptr, L"Edit", nullptr)) name = edit;
  } else {
    name = FindDescendant(dialog.window, kFileNameEdit);
  }
  if (!name) Fail("the file dialog has no name box");
  Click(name);
  Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  HWND confirm = GetDlgItem(dialog.window, IDOK);
  if (!confirm) Fail("the file dialog has no OK button");
  Click(confirm);
  WaitGone(dialog.window, 5000, "the file dialog");
}

// --- scenarios ---

struct ExpectedControl {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  LONG styles;  // the styles that must be set (besides child and visible)
};

void CheckTemplate(const Tool& tool) {
  const ExpectedControl controls[] = {
      {kReadConfig, L"Button", L"Считать конфигурацию", WS_TABSTOP},
      {kWriteConfig, L"Button", L"Записать конфигурацию", WS_TABSTOP},
      {kWriteProgram, L"Button", L"Записать программу", WS_TABSTOP},
      {kProgress, L"msctls_progress32", nullptr, WS_BORDER},
      {kAddress, L"SysIPAddress32", nullptr, WS_TABSTOP},
      {kPort, L"Edit", nullptr, WS_BORDER | WS_TABSTOP | ES_CENTER | ES_AUTOHSCROLL},
      {kUpdate, L"Button", L"Обновить прибор", WS_TABSTOP},
      // The combo box hands its scroll bar style to its drop-down list.
      {kInterfaces, L"ComboBox", nullptr, CBS_DROPDOWNLIST | CBS_SORT | WS_TABSTOP},
      {kInterfacesLabel, L"Static", L"Сетевой интерфейс", SS_CENTER | WS_GROUP},
      {kStatus, L"Static", L"Ход выполнения задачи", SS_CENTER | WS_GROUP},
  };
  for (const ExpectedControl& expected : controls) {
    HWND item = tool.Item(expected.id);
    if (!item) Fail("control %d is missing", expected.id);
    if (!SameText(ClassName(item), expected.className)) {
      Fail("control %d has class %s", expected.id, Utf8(ClassName(item)).c_str());
    }
    LONG style = GetWindowLongW(item, GWL_STYLE);
    // A border of the template shows as a 3-D client edge on an edit control; the progress control
    // drops the style altogether when it is created (it draws its own frame), so its border cannot
    // be read back from the window.
    if (GetWindowLongW(item, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) style |= WS_BORDER;
    if (expected.id == kProgress) style |= WS_BORDER;
    if ((style & expected.styles) != expected.styles || !(style & WS_VISIBLE)) {
      Fail("control %d has styles %08lx, extended %08lx", expected.id,
           static_cast<unsigned long>(style),
           static_cast<unsigned long>(GetWindowLongW(item, GWL_EXSTYLE)));
    }
    if (expected.id == kReadConfig || expected.id == kWriteConfig || expected.id == kWriteProgram ||
        expected.id == kUpdate) {
      // No push button is the default button.
      if ((style & 0x0F) != BS_PUSHBUTTON) Fail("button %d is a default button", expected.id);
    }
    if (expected.text && tool.ItemText(expected.id) != expected.text) {
      Fail("control %d reads %s", expected.id, Quote(tool.ItemText(expected.id)).c_str());
    }
  }
  // The two labels without an identifier.
  const std::wstring labels = StaticTexts(tool.dialog);
  for (const wchar_t* label : {L"IP-адрес прибора", L"Технологический порт прибора"}) {
    if (labels.find(label) == std::wstring::npos) Fail("label %s missing", Quote(label).c_str());
  }
  const LONG style = GetWindowLongW(tool.dialog, GWL_STYLE);
  Expect((style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX)) ==
                 (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX) &&
             !(style & (WS_MAXIMIZEBOX | WS_THICKFRAME)),
         "dialog: caption, system menu, minimise box; no maximise box, no sizing border");
  Ok("template: ids, classes, texts and styles of the controls");
}

// Start without Settings.ini; Escape and Enter leave the dialog open; Alt+F4 closes it with 16.
void ScenarioFresh(const std::wstring& exe, const std::wstring& folder) {
  Tool tool = Start(exe, folder);
  CheckTemplate(tool);
  Expect(Send(tool.Item(kAddress), IPM_ISBLANK) != 0, "address control is empty");
  Expect(tool.ItemText(kPort).empty(), "port edit is empty");
  Expect(WaitFor([&] { return tool.Focus() == tool.Item(kReadConfig); }, 3000),
         "focus on button 1000");
  Expect(tool.BarPos() == 0, "progress bar at 0");
  const int range = static_cast<int>(Send(tool.Item(kProgress), PBM_GETRANGE, FALSE));
  Expect(range == 100, "progress bar range ends at 100");
  Expect(tool.ItemText(kStatus) == kIdleText, "status line reads the idle text");
  Expect(tool.ControlsEnabled(true), "the seven input controls are enabled");
  const LRESULT count = Send(tool.Item(kInterfaces), CB_GETCOUNT);
  Expect(count > 0 && Send(tool.Item(kInterfaces), CB_GETCURSEL) >= 0,
         "interface list holds entries, one selected");
  std::printf("info: interfaces:");
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t entry[64] = {};
    if (Send(tool.Item(kInterfaces), CB_GETLBTEXTLEN, static_cast<WPARAM>(i)) < 63) {
      Send(tool.Item(kInterfaces), CB_GETLBTEXT, static_cast<WPARAM>(i),
           reinterpret_cast<LPARAM>(entry));
    }
    std::printf(" %s", Utf8(entry).c_str());
  }
  std::printf("\n");

  tool.Activate();
  PressKey(VK_ESCAPE);
  Sleep(500);
  Expect(IsWindow(tool.dialog) && IsWindowVisible(tool.dialog) &&
             WaitForSingleObject(g_tool.hProcess, 0) == WAIT_TIMEOUT,
         "Escape does not close the dialog");
  tool.ClickItem(kPort);
  PressKey(VK_RETURN);
  Sleep(300);
  Expect(IsWindow(tool.dialog) && ToolWindows().size() == 1, "Enter in the port edit does nothing");

  CloseWithKeyboard(tool);
  Expect(WaitExit(10000) == 16, "Alt+F4 ends the program with exit code 16");
}

// The port edit's repairs.
void ScenarioPort(const std::wstring& exe, const std::wstring& folder) {
  Tool tool = Start(exe, folder);
  tool.Activate();

  tool.TypeIntoPort(L"1234");
  Expect(tool.ItemText(kPort) == L"1234", "digits are taken as typed");
  PressKey(VK_HOME);
  PressKey(VK_RIGHT);
  PressKey(VK_RIGHT);
  TypeText(L"x");
  Expect(tool.ItemText(kPort) == L"1234", "a letter typed among digits is removed");
  Expect(tool.PortCaret() == 2, "the caret stands where the letter was typed");
  TypeText(L"5");
  Expect(tool.ItemText(kPort) == L"12534", "typing goes on at the caret");

  tool.TypeIntoPort(L"70000");
  Expect(tool.ItemText(kPort) == L"65535", "70000 becomes 65535");

  tool.TypeIntoPort(L"x");
  Expect(tool.ItemText(kPort) == L"0", "a letter in the empty edit leaves 0");

  tool.TypeIntoPort(L"");
  PutOnClipboard(L"-5");
  PressChord(VK_CONTROL, 'V');
  Expect(WaitFor([&] { return tool.ItemText(kPort) == L"0"; }, 2000), "pasted -5 becomes 0");

  tool.TypeIntoPort(L"");
  PutOnClipboard(L"12ab34");
  PressChord(VK_CONTROL, 'V');
  Expect(WaitFor([&] { return tool.ItemText(kPort) == L"1234"; }, 2000),
         "pasted 12ab34 becomes 1234");

  tool.TypeIntoPort(L"");
  PutOnClipboard(L"8a0000");
  PressChord(VK_CONTROL, 'V');
  Expect(WaitFor([&] { return tool.ItemText(kPort) == L"65535"; }, 2000),
         "pasted 8a0000 becomes 65535, not 80000");

  tool.TypeIntoPort(L"");
  Expect(tool.ItemText(kPort).empty(), "a cleared port edit stays empty");

  CloseWithKeyboard(tool);
  Expect(WaitExit(10000) == 16, "closed with exit code 16");
}

// Settings.ini holds 300.1.2.3:80, which names no device; the person enters 10.0.0.5 and 4001 and
// closes.
void ScenarioSettings(const std::wstring& exe, const std::wstring& folder) {
  Tool tool = Start(exe, folder);
  Expect(Send(tool.Item(kAddress), IPM_ISBLANK) != 0, "the bad record 300.1.2.3:80 is not loaded");
  Expect(tool.ItemText(kPort).empty(), "nor is its port");

  tool.Activate();
  Send(tool.Item(kAddress), IPM_CLEARADDRESS);
  HWND firstField = FindWindowExW(tool.Item(kAddress), nullptr, L"Edit", nullptr);
  if (!firstField) Fail("the address control has no fields");
  // The fields are children in the order of creation; the first one is the leftmost.
  RECT leftmost{};
  GetWindowRect(firstField, &leftmost);
  for (HWND field = firstField; field;
       field = FindWindowExW(tool.Item(kAddress), field, L"Edit", nullptr)) {
    RECT rect{};
    GetWindowRect(field, &rect);
    if (rect.left < leftmost.left) {
      leftmost = rect;
      firstField = field;
    }
  }
  Click(firstField);
  TypeText(L"10.0.0.5");
  Expect(tool.ItemText(kAddress) == L"10.0.0.5", "address 10.0.0.5 typed");
  tool.TypeIntoPort(L"4001");
  Expect(tool.ItemText(kPort) == L"4001", "port 4001 typed");

  CloseWithKeyboard(tool);
  Expect(WaitExit(10000) == 16, "closed with exit code 16");
}

// Picks 127.0.0.1 in the interface list with the keyboard, when the host lists it.
void SelectLoopbackInterface(const Tool& tool) {
  HWND list = tool.Item(kInterfaces);
  const LRESULT count = Send(list, CB_GETCOUNT);
  tool.Activate();
  Click(list);
  PressKey(VK_ESCAPE);  // close the drop-down again; the list keeps the focus
  PressKey(VK_HOME);
  for (LRESULT i = 0; i < count && Text(list) != L"127.0.0.1"; ++i) PressKey(VK_DOWN);
  if (Text(list) == L"127.0.0.1") {
    Ok("interface 127.0.0.1 selected");
  } else {
    std::printf("info: 127.0.0.1 is not listed; the task binds %s\n", Utf8(Text(list)).c_str());
  }
}

// Fails with what, naming the first box of the tool that is open besides its dialog.
[[noreturn]] void FailNaming(const Tool& tool, const char* what) {
  for (HWND hWnd : ToolWindows()) {
    if (hWnd != tool.dialog) {
      Fail("%s; open box %s: %s", what, Quote(Text(hWnd)).c_str(),
           Quote(StaticTexts(hWnd)).c_str());
    }
  }
  Fail("%s", what);
}

// How the person presses a button: Space when it has the focus, a click through Wine's input
// queue (SendInput), or a click through the X server.
enum class Press { Keyboard, Mouse, XMouse };

void PressItem(const Tool& tool, int id, Press press) {
  switch (press) {
    case Press::Keyboard:
      PressKey(VK_SPACE);
      break;
    case Press::Mouse:
      tool.ClickItem(id);
      break;
    case Press::XMouse:
      tool.ClickItemThroughX(id);
      break;
  }
}

// Starts the read by pressing button 1000 and answers the save dialog with the path; checks the
// controls meanwhile.
void StartReadTask(const Tool& tool, const std::wstring& savePath, Press press = Press::Mouse) {
  PressItem(tool, kReadConfig, press);
  Expect(WaitFor([&] { return tool.ControlsEnabled(false); }, 3000),
         "the seven input controls are disabled while the task runs");
  const Popup save = WaitPopup(tool, true, 10000, "the save dialog");
  Ok("save dialog %s", Quote(save.caption).c_str());
  Expect(tool.ControlsEnabled(false) && tool.ItemText(kStatus) == kIdleText,
         "controls still disabled while the save dialog is open");
  AnswerFileDialog(save, savePath);
}

// Reads the configuration from orvel-sim into savePath.
void ScenarioRead(const std::wstring& exe, const std::wstring& folder,
                  const std::wstring& savePath) {
  Tool tool = Start(exe, folder);
  SelectLoopbackInterface(tool);
  // From the interface list, the last control in tab order, Tab wraps round to button 1000.
  PressKey(VK_TAB);
  Expect(WaitFor([&] { return tool.Focus() == tool.Item(kReadConfig); }, 3000),
         "Tab reaches button 1000");
  const ULONGLONG started = GetTickCount64();
  StartReadTask(tool, savePath, Press::Keyboard);
  int highest = 0;
  const bool done = WaitFor(
      [&] {
        highest = std::max(highest, tool.BarPos());
        return tool.ControlsEnabled(true);
      },
      60000);
  if (!done) FailNaming(tool, "the task did not end within 60 s");
  std::printf("info: task took %llu ms, highest bar position seen %d\n",
              static_cast<unsigned long long>(GetTickCount64() - started), highest);
  Expect(highest > 0, "the progress bar moved during the read");
  Expect(ToolWindows().size() == 1, "the task ended without a message box");
  Expect(tool.Idle(), "back to idle: bar at 0, idle text, controls enabled");
  Expect(WaitFor([&] { return tool.Focus() == tool.Item(kReadConfig); }, 3000),
         "the focus is back on the button that started the read");

  // Another task, all by keyboard: Tab to "Записать программу", Space, Escape in its open dialog,
  // Enter on the box that says it was cancelled.
  PressKey(VK_TAB);
  PressKey(VK_TAB);
  Expect(WaitFor([&] { return tool.Focus() == tool.Item(kWriteProgram); }, 3000),
         "two Tabs reach button 1002");
  PressKey(VK_SPACE);
  const Popup open = WaitPopup(tool, true, 10000, "the open dialog");
  PressKeyIn(open.window, VK_ESCAPE);
  WaitGone(open.window, 5000, "the open dialog");
  const Popup cancelled = WaitPopup(tool, false, 10000, "the cancel box");
  Expect(cancelled.text == kProgramCancelledText, "the box says the write was cancelled");
  PressKeyIn(cancelled.window, VK_RETURN);
  WaitGone(cancelled.window, 5000, "the cancel box");
  Expect(WaitFor([&] { return tool.Idle(); }, 5000), "idle again after the cancelled write");
  Expect(WaitFor([&] { return tool.Focus() == tool.Item(kWriteProgram); }, 3000),
         "the focus is back on button 1002, which started that task");

  CloseWithKeyboard(tool);
  Expect(WaitExit(10000) == 16, "closed with exit code 16");
}

// A silent device: the close question (No) during the task, then the no-answer box, then idle;
// a second task is stopped by the close question (Yes).
void ScenarioSilent(const std::wstring& exe, const std::wstring& folder,
                    const std::wstring& savePath) {
  Tool tool = Start(exe, folder);
  // The tool has read its settings; the script sees whether the forced close writes them again.
  SpoilSettings(folder);
  SelectLoopbackInterface(tool);
  const ULONGLONG started = GetTickCount64();
  StartReadTask(tool, savePath);

  CloseWithKeyboard(tool);
  Popup question = WaitPopup(tool, false, 5000, "the close question");
  Expect(question.caption == L"Внимание!" && question.text == kCloseQuestion,
         "closing during a task asks the question");
  Expect((GetWindowLongW(GetDlgItem(question.window, IDNO), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON,
         "No is the default answer");
  PressBoxButton(question, IDNO);
  Sleep(300);
  Expect(IsWindow(tool.dialog) && tool.ControlsEnabled(false),
         "No: the dialog stays and the task goes on");

  const Popup noAnswer = WaitPopup(tool, false, 60000, "the no-answer box");
  const ULONGLONG elapsed = GetTickCount64() - started;
  std::printf("info: no-answer box after %llu ms\n", static_cast<unsigned long long>(elapsed));
  if (noAnswer.caption != kNoAnswerCaption || noAnswer.text != kNoAnswerText) {
    Fail("unexpected box %s: %s", Quote(noAnswer.caption).c_str(), Quote(noAnswer.text).c_str());
  }
  Ok("a silent device ends in the no-answer box");
  Expect(tool.ControlsEnabled(false), "controls stay disabled while the box is open");
  PressKeyIn(noAnswer.window, VK_RETURN);
  WaitGone(noAnswer.window, 5000, "the no-answer box");
  Expect(WaitFor([&] { return tool.Idle(); }, 5000),
         "after the box: bar at 0, idle text, controls enabled");
  Expect(WaitFor([&] { return tool.Focus() == tool.Item(kReadConfig); }, 3000),
         "the focus is back on button 1000");

  // A second later, a click through the X server starts the read again.
  Sleep(1000);
  StartReadTask(tool, savePath, Press::XMouse);
  Sleep(500);
  CloseWithKeyboard(tool);
  question = WaitPopup(tool, false, 5000, "the close question");
  Expect(question.text == kCloseQuestion, "the question again during the second task");
  PressBoxButton(question, IDYES);
  Expect(WaitExit(10000) == 16, "Yes ends the program with exit code 16");
}

// After a message box, the first click on a task button, a second after the box, starts the task:
// clicks through the X server, each step's box closed with Enter. The device answers only its first
// request, so the last read asks a silent device for its version before its save dialog: three
// requests of 1.5 s each.
void ScenarioBoxClick(const std::wstring& exe, const std::wstring& folder) {
  struct Step {
    int button;
    const wchar_t* dialogCaption;
    DWORD earliestMs;  // the file dialog's time after the click, at least and at most
    DWORD latestMs;
    const std::wstring& cancelledText;
    const char* what;
  };
  const Step steps[] = {
      {kWriteProgram, L"Open", 0, 5000, kProgramCancelledText, "write program, before any box"},
      {kReadConfig, L"Save As", 0, 5000, kReadCancelledText, "read, the device answers"},
      {kUpdate, L"Open", 0, 5000, kUpdateCancelledText, "update"},
      // Three version requests of 1.5 s each come first.
      {kReadConfig, L"Save As", 4500, 10000, kReadCancelledText, "read, the device silent"},
  };
  Tool tool = Start(exe, folder);
  SelectLoopbackInterface(tool);
  for (const Step& step : steps) {
    Sleep(1000);
    // Timed from before xdotool starts, so that the time is never short of the tool's own.
    const ULONGLONG clicked = GetTickCount64();
    tool.ClickItemThroughX(step.button);
    if (!WaitFor([&] { return tool.ControlsEnabled(false); }, 1000)) {
      Fail("%s: the click did not start the task within 1 s", step.what);
    }
    HWND dialog = nullptr;
    const bool shown = WaitFor(
        [&] {
          for (HWND hWnd : ToolWindows()) {
            if (IsFileDialog(hWnd) && Text(hWnd) == step.dialogCaption) dialog = hWnd;
          }
          return dialog != nullptr;
        },
        step.latestMs);
    const auto took = static_cast<unsigned long>(GetTickCount64() - clicked);
    if (!shown || took < step.earliestMs) {
      FailNaming(tool, (std::string(step.what) + ": no file dialog " + Utf8(step.dialogCaption) +
                        " between " + std::to_string(step.earliestMs) + " and " +
                        std::to_string(step.latestMs) + " ms after the click")
                           .c_str());
    }
    Ok("%s: the click started the task; its file dialog came %lu ms after the click", step.what,
       took);
    Sleep(200);  // let it finish initialising before it is answered
    PressKeyIn(dialog, VK_ESCAPE);
    WaitGone(dialog, 5000, "the file dialog");
    const Popup box = WaitPopup(tool, false, 10000, "the cancel box");
    if (box.text != step.cancelledText) {
      Fail("%s: unexpected box %s: %s", step.what, Quote(box.caption).c_str(),
           Quote(box.text).c_str());
    }
    PressKeyIn(box.window, VK_RETURN);
    WaitGone(box.window, 5000, "the cancel box");
    if (!WaitFor([&] { return tool.Idle() && tool.Focus() == tool.Item(step.button); }, 5000)) {
      Fail("%s: not idle with the focus on button %d after the box", step.what, step.button);
    }
  }
  CloseWithKeyboard(tool);
  Expect(WaitExit(10000) == 16, "closed with exit code 16");
}

// Where the task stands when the person closes the dialog.
enum class CloseMoment { Wait, Write, Dialog };

// Starts the task for the moment: "wait" reads from a silent device, "write" writes the file into a
// live device, "dialog" stops in the read's save dialog. Returns once the moment is reached.
void ReachMoment(const Tool& tool, CloseMoment moment, const std::wstring& file) {
  switch (moment) {
    case CloseMoment::Wait:
      StartReadTask(tool, file);
      break;
    case CloseMoment::Write: {
      tool.ClickItem(kWriteConfig);
      const Popup open = WaitPopup(tool, true, 10000, "the open dialog");
      AnswerFileDialog(open, file);
      if (!WaitFor([&] { return tool.BarPos() > 0; }, 10000)) {
        FailNaming(tool, "the write did not move the bar within 10 s");
      }
      Ok("the write moves the bar");
      break;
    }
    case CloseMoment::Dialog:
      tool.ClickItem(kReadConfig);
      WaitPopup(tool, true, 10000, "the save dialog");
      break;
  }
}

// Closes the dialog during a task, delayMs after the task reached the given moment; the close must
// end the process with 16 within 5 s and write Settings.ini again.
void ScenarioForced(const std::wstring& exe, const std::wstring& folder, CloseMoment moment,
                    const std::wstring& file, DWORD delayMs) {
  constexpr DWORD kExitLimitMs = 5000;
  const std::wstring settingsPath = folder + L"\\Settings.ini";
  const std::string settings = FileContent(settingsPath);
  if (settings.empty()) Fail("no Settings.ini in the folder");
  Tool tool = Start(exe, folder);
  // Only a save by this close can put the record back.
  SpoilSettings(folder);
  SelectLoopbackInterface(tool);
  ReachMoment(tool, moment, file);
  Sleep(delayMs);
  CloseWithKeyboard(tool);
  const Popup question = WaitPopup(tool, false, 5000, "the close question");
  if (question.text != kCloseQuestion) {
    Fail("unexpected box %s: %s", Quote(question.caption).c_str(), Quote(question.text).c_str());
  }
  HWND yes = GetDlgItem(question.window, IDYES);
  if (!yes) Fail("the question has no Yes button");
  Click(yes);
  const ULONGLONG answered = GetTickCount64();
  const DWORD code = WaitExit(kExitLimitMs);
  const auto took = static_cast<unsigned long>(GetTickCount64() - answered);
  Expect(code == 16, "Yes ends the program with exit code 16");
  Expect(FileContent(settingsPath) == settings, "Settings.ini holds the record again");
  std::printf("info: closed %lu ms into the task; the process ended %lu ms after Yes\n", delayMs,
              took);
}

// Shows the dialog until stopFile exists (or timeoutSec passed), printing its screen rectangle.
void ScenarioShow(const std::wstring& exe, const std::wstring& folder, const std::wstring& stopFile,
                  int timeoutSec) {
  Tool tool = Start(exe, folder);
  tool.Activate();
  Sleep(500);
  RECT rect{};
  GetWindowRect(tool.dialog, &rect);
  // Screen coordinates of the dialog, for the screenshot script (the file appears complete).
  const std::wstring rectFile = stopFile + L".rect";
  if (FILE* out = _wfopen((rectFile + L".tmp").c_str(), L"wb")) {
    std::fprintf(out, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top);
    std::fclose(out);
    MoveFileExW((rectFile + L".tmp").c_str(), rectFile.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  WaitFor([&] { return GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES; },
          static_cast<DWORD>(timeoutSec) * 1000);
  CloseWithKeyboard(tool);
  Expect(WaitExit(10000) == 16, "closed with exit code 16");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::printf(
        "usage: orvel-gui-driver fresh|port|settings|read|silent|box_click|forced|show <exe> "
        "<folder> ...\n");
    return 2;
  }
  const std::wstring scenario = argv[1];
  const std::wstring exe = argv[2];
  const std::wstring folder = argv[3];
  if (scenario == L"fresh") {
    ScenarioFresh(exe, folder);
  } else if (scenario == L"port") {
    ScenarioPort(exe, folder);
  } else if (scenario == L"settings") {
    ScenarioSettings(exe, folder);
  } else if (scenario == L"read" && argc == 5) {
    ScenarioRead(exe, folder, argv[4]);
  } else if (scenario == L"silent" && argc == 5) {
    ScenarioSilent(exe, folder, argv[4]);
  } else if (scenario == L"box_click") {
    ScenarioBoxClick(exe, folder);
  } else if (scenario == L"forced" && argc == 7) {
    const std::wstring moment = argv[4];
    CloseMoment which = CloseMoment::Wait;
    if (moment == L"write") {
      which = CloseMoment::Write;
    } else if (moment == L"dialog") {
      which = CloseMoment::Dialog;
    } else if (moment != L"wait") {
      std::printf("unknown moment; wait, write or dialog\n");
      return 2;
    }
    ScenarioForced(exe, folder, which, argv[5], static_cast<DWORD>(_wtoi(argv[6])));
  } else if (scenario == L"show" && argc == 6) {
    ScenarioShow(exe, folder, argv[4], _wtoi(argv[5]));
  } else {
    std::printf("unknown scenario or wrong arguments\n");
    return 2;
  }
  std::printf("PASS\n");
  return 0;
}
