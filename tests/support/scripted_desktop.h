#pragma once
// A desktop for tests: records every call and answers from queues that a test preloads.
//
//   orvel::test::ScriptedDesktop desktop;
//   desktop.QueueBoxAnswer(mbox::kYes);              // the next box returns IDYES
//   desktop.QueueFile(L"/tmp/x/config.bin");         // the next file dialog picks this path
//   desktop.QueueFile(std::nullopt);                 // ... and the one after that is cancelled
//   ... run a task on a CDeviceSession built with this desktop ...
//   EXPECT_EQ(desktop.Boxes().at(0).caption, L"Ошибка.");
//
// Default answers when a queue is empty:
//   - a box with the Yes/No buttons (style & 0x0F == mbox::kYesNo) answers mbox::kNo, so that a
//     retry question never loops; every other box answers mbox::kOk;
//   - a file dialog answers nothing (the user cancelled).
// Not thread-safe: drive it from one thread at a time.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "common/desktop.h"

namespace orvel::test {

class ScriptedDesktop final : public IDesktop {
 public:
  struct Box {
    WindowHandle owner = nullptr;
    std::wstring text;
    std::wstring caption;
    unsigned style = 0;
    int answer = 0;  // what ShowMessage returned
  };
  struct Progress {
    enum class Kind { Range, Pos } kind;
    WindowHandle bar;
    std::uint16_t value;  // the range's max, or the position
  };
  struct Status {
    WindowHandle status;
    std::wstring text;
  };

  // Answers, consumed in order.
  void QueueBoxAnswer(int answer) { m_boxAnswers.push_back(answer); }
  void QueueFile(std::optional<std::wstring> path) { m_files.push_back(std::move(path)); }

  // What happened, in order.
  const std::vector<Box>& Boxes() const { return m_boxes; }
  const std::vector<FileChoice>& FileChoices() const { return m_fileChoices; }
  const std::vector<Progress>& ProgressCalls() const { return m_progress; }
  const std::vector<Status>& StatusTexts() const { return m_status; }

  // Convenience views of ProgressCalls().
  std::vector<std::uint16_t> ProgressPositions() const;  // every SetProgressPos value
  std::vector<std::uint16_t> ProgressRanges() const;     // every SetProgressRange max
  std::optional<std::uint16_t> LastProgressPos() const;

  // Forgets everything recorded (the queues stay).
  void ClearRecords();

  int ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                  unsigned style) override;
  std::optional<std::wstring> ChooseFile(const FileChoice& choice) override;
  void SetProgressRange(WindowHandle bar, std::uint16_t max) override;
  void SetProgressPos(WindowHandle bar, std::uint16_t pos) override;
  void SetStatusText(WindowHandle status, const std::wstring& text) override;

 private:
  std::deque<int> m_boxAnswers;
  std::deque<std::optional<std::wstring>> m_files;
  std::vector<Box> m_boxes;
  std::vector<FileChoice> m_fileChoices;
  std::vector<Progress> m_progress;
  std::vector<Status> m_status;
};

}  // namespace orvel::test
