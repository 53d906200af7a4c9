#include "cli/console_desktop.h"

#include <cstring>

#include "common/text.h"
#include "platform/file_io.h"
#include "platform/utf8.h"

namespace orvel {
namespace {

constexpr wchar_t kCannotOpenFiles[] = L"Не удается открыть файл(ы):\n";

bool IsYesNo(unsigned style) { return (style & 0x0Fu) == mbox::kYesNo; }

// "y", "yes", "д", "да" in any case: the first letter decides.
bool IsYes(const std::string& line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos) return false;
  const std::string_view rest(line.data() + i, line.size() - i);
  if (rest[0] == 'y' || rest[0] == 'Y') return true;
  return rest.starts_with("\xD0\xB4") || rest.starts_with("\xD0\x94");  // д, Д
}

}  // namespace

ConsoleDesktop::ConsoleDesktop(Options options) : m_options(options) {}

ConsoleDesktop::~ConsoleDesktop() { EndProgressLine(); }

int ConsoleDesktop::ShowMessage(WindowHandle, const std::wstring& shown,
                                const std::wstring& caption, unsigned style) {
  EndProgressLine();
  // The dialog names no file when one cannot be opened (its user has just picked it); here the
  // file came from a command line, maybe a script's, so its name and the system's reason follow.
  std::wstring text = shown;
  if (text == kCannotOpenFiles && m_chosenFile && *m_chosenFile != kStandardStream) {
    text += *m_chosenFile;
    const std::string reason = OpenFailureReason(*m_chosenFile, m_chosenForSaving);
    if (!reason.empty()) text += L" (" + FromUtf8(reason) + L")";
  }
  m_boxes.emplace_back(caption, text);
  // Built by appending: GCC 12 at -O3 warns falsely (-Wrestrict) on a chain of operator+. A box may
  // quote a file name: whatever it holds is shown escaped, the box's own line breaks as they are.
  std::string line = m_options.prefix;
  line.append(TerminalText(ToUtf8(caption), true))
      .append(": ")
      .append(TerminalText(ToUtf8(text), true));
  if (!IsYesNo(style)) {
    Say(line);
    return mbox::kOk;
  }

  // A question: answered from --retries, else on a terminal, else No. The line goes out whole, so
  // that the lines of devices running at the same time do not mix.
  line += " [y/N] ";
  bool yes = false;
  if (m_options.retries) {
    yes = *m_options.retries > 0;
    if (yes) --*m_options.retries;
    Say(line + (yes ? "y" : "n"));
  } else if (m_options.inIsTerminal && m_options.in) {
    if (m_options.lines) m_options.lines->Hold(true);
    std::fputs(line.c_str(), m_options.err);
    std::fflush(m_options.err);
    char buffer[256];
    const bool read = std::fgets(buffer, sizeof buffer, m_options.in) != nullptr;
    yes = read && IsYes(buffer);
    if (!read) std::fputs("\n", m_options.err);
    std::fflush(m_options.err);
    if (m_options.lines) m_options.lines->Hold(false);
  } else {
    Say(line + "n");
  }
  return yes ? mbox::kYes : mbox::kNo;
}

void ConsoleDesktop::Say(const std::string& line) {
  if (m_options.lines) {
    m_options.lines->Message(line);
    return;
  }
  std::fprintf(m_options.err, "%s\n", line.c_str());
  std::fflush(m_options.err);
}

std::optional<std::wstring> ConsoleDesktop::ChooseFile(const FileChoice& choice) {
  m_chosenForSaving = choice.save;
  return m_chosenFile;
}

void ConsoleDesktop::SetProgressRange(WindowHandle, std::uint16_t max) {
  m_max = max;
  m_pos = 0;
}

void ConsoleDesktop::SetProgressPos(WindowHandle, std::uint16_t pos) {
  m_pos = pos;
  DrawProgress();
}

void ConsoleDesktop::SetStatusText(WindowHandle, const std::wstring& text) {
  m_status = text;
  DrawProgress();
}

void ConsoleDesktop::DrawProgress() {
  if (m_options.lines) {
    m_options.lines->Progress(m_pos, m_max, m_status);
    return;
  }
  if (!m_options.errIsTerminal) return;
  std::string line;
  if (!m_status.empty()) line.append("[").append(ToUtf8(m_status)).append("] ");
  char figures[32];
  if (m_max == 100) {
    std::snprintf(figures, sizeof figures, "%u%%", unsigned{m_pos});
  } else {
    std::snprintf(figures, sizeof figures, "%u/%u", unsigned{m_pos}, unsigned{m_max});
  }
  line += figures;
  if (m_lineOpen && line == m_lastLine) return;  // nothing new to show
  // Characters, not bytes, decide how much of the old line is left to blank out.
  const std::size_t width = FromUtf8(line).size();
  const std::size_t blanks = m_lineWidth > width ? m_lineWidth - width : 0;
  std::fprintf(m_options.err, "\r%s%*s", line.c_str(), static_cast<int>(blanks), "");
  std::fflush(m_options.err);
  m_lineWidth = width;
  m_lastLine = std::move(line);
  m_lineOpen = true;
}

void ConsoleDesktop::EndProgressLine() {
  if (!m_lineOpen) return;
  std::fputs("\n", m_options.err);
  std::fflush(m_options.err);
  m_lineOpen = false;
  m_lineWidth = 0;
}

}  // namespace orvel
