#pragma once
// The console side of the desktop seam, for orvelctl: boxes go to stderr as "caption: text"
// (UTF-8), the file "dialog" answers with the path given on the command line, a Yes/No question is
// answered from --retries, from a terminal prompt, or No, and progress is drawn on a terminal.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/desktop.h"

namespace orvel {

// Where a desktop of a run that draws live lines sends what it would print itself (StatusBoard).
class IConsoleLines {
 public:
  virtual ~IConsoleLines() = default;
  // One whole line for stderr.
  virtual void Message(const std::string& line) = 0;
  virtual void Progress(std::uint16_t pos, std::uint16_t max, const std::wstring& status) = 0;
  // While held, nothing else is drawn: a question is asked on the terminal.
  virtual void Hold(bool held) = 0;
};

class ConsoleDesktop final : public IDesktop {
 public:
  struct Options {
    std::FILE* err = stderr;
    std::FILE* in = stdin;
    bool errIsTerminal = false;       // draw progress
    bool inIsTerminal = false;        // Yes/No questions may be asked
    std::optional<unsigned> retries;  // answer Yes this many times, then No, without asking
    std::string prefix;               // before every box ("10.0.0.5:40000: " when several run)
    IConsoleLines* lines = nullptr;   // boxes and progress go there instead (null: drawn here)
  };

  explicit ConsoleDesktop(Options options);
  // Ends a progress line that is still open.
  ~ConsoleDesktop() override;
  ConsoleDesktop(const ConsoleDesktop&) = delete;
  ConsoleDesktop& operator=(const ConsoleDesktop&) = delete;

  // The path that the next ChooseFile answers with; nothing means the user cancelled. A box saying
  // that the files cannot be opened names it, with the system's reason.
  void SetChosenFile(std::optional<std::wstring> path) { m_chosenFile = std::move(path); }
  // Every box shown so far (caption, text), for the exit status and for tests.
  const std::vector<std::pair<std::wstring, std::wstring>>& Boxes() const { return m_boxes; }

  int ShowMessage(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                  unsigned style) override;
  std::optional<std::wstring> ChooseFile(const FileChoice& choice) override;
  void SetProgressRange(WindowHandle bar, std::uint16_t max) override;
  void SetProgressPos(WindowHandle bar, std::uint16_t pos) override;
  void SetStatusText(WindowHandle status, const std::wstring& text) override;

 private:
  void Say(const std::string& line);
  void DrawProgress();
  void EndProgressLine();

  Options m_options;
  std::optional<std::wstring> m_chosenFile;
  bool m_chosenForSaving = false;  // the task asked for a file to write
  std::vector<std::pair<std::wstring, std::wstring>> m_boxes;
  std::uint16_t m_max = 100;
  std::uint16_t m_pos = 0;
  std::wstring m_status;
  bool m_lineOpen = false;
  std::size_t m_lineWidth = 0;  // characters of the progress line drawn last
  std::string m_lastLine;       // and the line itself
};

}  // namespace orvel
