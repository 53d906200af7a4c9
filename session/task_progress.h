#pragma once
// The progress bar as a task sees it: every message goes through the desktop seam.

#include <cstdint>

#include "common/desktop.h"

class CTaskProgress {
 public:
  explicit CTaskProgress(orvel::IDesktop& desktop) : m_desktop(desktop) {}

  void Attach(orvel::WindowHandle bar);
  void Reset(std::uint16_t max);
  void ResetPercent() { Reset(100); }
  void SetPos(std::uint16_t pos);
  void Step(std::uint16_t delta);

  std::uint16_t Pos() const { return m_pos; }

 private:
  friend class ProgressShare;

  orvel::IDesktop& m_desktop;
  orvel::WindowHandle m_hBar = nullptr;
  std::uint16_t m_pos = 0;
  // The part of the bar's percent that SetPos's 0..100 stands for (see ProgressShare).
  std::uint16_t m_shareFrom = 0;
  std::uint16_t m_shareTo = 100;
};

// While it lives, SetPos(0..100) on the progress covers only from..to percent of what it covered
// before: a task that does two transfers (a write and its read-back) shares the bar between them.
class ProgressShare {
 public:
  ProgressShare(CTaskProgress& progress, unsigned from, unsigned to);
  ~ProgressShare();
  ProgressShare(const ProgressShare&) = delete;
  ProgressShare& operator=(const ProgressShare&) = delete;

 private:
  CTaskProgress& m_progress;
  std::uint16_t m_savedFrom;
  std::uint16_t m_savedTo;
};
