#include "scripted_desktop.h"

namespace orvel::test {

std::vector<std::uint16_t> ScriptedDesktop::ProgressPositions() const {
  std::vector<std::uint16_t> positions;
  for (const Progress& call : m_progress) {
    if (call.kind == Progress::Kind::Pos) positions.push_back(call.value);
  }
  return positions;
}

std::vector<std::uint16_t> ScriptedDesktop::ProgressRanges() const {
  std::vector<std::uint16_t> ranges;
  for (const Progress& call : m_progress) {
    if (call.kind == Progress::Kind::Range) ranges.push_back(call.value);
  }
  return ranges;
}

std::optional<std::uint16_t> ScriptedDesktop::LastProgressPos() const {
  for (auto it = m_progress.rbegin(); it != m_progress.rend(); ++it) {
    if (it->kind == Progress::Kind::Pos) return it->value;
  }
  return std::nullopt;
}

void ScriptedDesktop::ClearRecords() {
  m_boxes.clear();
  m_fileChoices.clear();
  m_progress.clear();
  m_status.clear();
}

int ScriptedDesktop::ShowMessage(WindowHandle owner, const std::wstring& text,
                                 const std::wstring& caption, unsigned style) {
  int answer = (style & 0x0F) == mbox::kYesNo ? mbox::kNo : mbox::kOk;
  if (!m_boxAnswers.empty()) {
    answer = m_boxAnswers.front();
    m_boxAnswers.pop_front();
  }
  m_boxes.push_back(Box{owner, text, caption, style, answer});
  return answer;
}

std::optional<std::wstring> ScriptedDesktop::ChooseFile(const FileChoice& choice) {
  m_fileChoices.push_back(choice);
  if (m_files.empty()) return std::nullopt;
  std::optional<std::wstring> path = std::move(m_files.front());
  m_files.pop_front();
  return path;
}

void ScriptedDesktop::SetProgressRange(WindowHandle bar, std::uint16_t max) {
  m_progress.push_back(Progress{Progress::Kind::Range, bar, max});
}

void ScriptedDesktop::SetProgressPos(WindowHandle bar, std::uint16_t pos) {
  m_progress.push_back(Progress{Progress::Kind::Pos, bar, pos});
}

void ScriptedDesktop::SetStatusText(WindowHandle status, const std::wstring& text) {
  m_status.push_back(Status{status, text});
}

}  // namespace orvel::test
