#pragma once
// What the task runner and the dialog share: the program's one message number of its own and the
// idle look of the status line.

#include <windows.h>

// Posted by a worker, exactly once per task, as its last act.
constexpr UINT WM_TASK_DONE = WM_USER + 100;
static_assert(WM_TASK_DONE == 1124);

inline constexpr wchar_t kIdleStatusText[] = L"Ход выполнения задачи";
