#include "cli/status_board.h"

#include <algorithm>

#include "platform/utf8.h"

namespace orvel::cli {
namespace {

// text cut or padded to exactly width characters.
std::string Fit(const std::string& text, std::size_t width) {
  std::wstring wide = FromUtf8(text);
  wide.resize(width, L' ');
  return ToUtf8(wide);
}

// text cut to at most width characters, without blanks at its end.
std::string Cut(const std::string& text, std::size_t width) {
  std::wstring wide = FromUtf8(text);
  if (wide.size() > width) wide.resize(width);
  while (!wide.empty() && wide.back() == L' ') wide.pop_back();
  return ToUtf8(wide);
}

std::string Duration(std::int64_t seconds) {
  char text[24];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

}  // namespace

StatusBoard::StatusBoard(Options options, IClock& clock) : m_options(options), m_clock(clock) {
  if (m_options.live) m_thread = std::thread([this] { Loop(); });
}

StatusBoard::~StatusBoard() {
  {
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
  const std::lock_guard lock(m_mutex);
  if (m_options.live) DrawLocked();
}

std::size_t StatusBoard::Add(const std::string& device) {
  const std::lock_guard lock(m_mutex);
  Row row;
  row.device = device;
  m_rows.push_back(std::move(row));
  return m_rows.size() - 1;
}

void StatusBoard::Start(std::size_t line, const std::string& phase) {
  const std::lock_guard lock(m_mutex);
  Row& row = m_rows.at(line);
  row.state = State::Running;
  row.phase = phase;
  row.startMs = m_clock.NowMs();
  if (m_options.live) DrawLocked();
}

void StatusBoard::Update(std::size_t line, unsigned percent, const std::string& phase,
                         std::uint64_t bytes, unsigned long resends) {
  const std::lock_guard lock(m_mutex);
  Row& row = m_rows.at(line);
  row.percent = std::min(percent, 100u);
  if (!phase.empty()) row.phase = phase;
  row.bytes = bytes;
  row.resends = resends;
}

void StatusBoard::Finish(std::size_t line, bool ok) {
  const std::lock_guard lock(m_mutex);
  Row& row = m_rows.at(line);
  row.state = ok ? State::Done : State::Failed;
  if (ok) row.percent = 100;
  if (m_options.live) DrawLocked();
}

void StatusBoard::Print(const std::string& text) {
  const std::lock_guard lock(m_mutex);
  if (m_options.live && !m_held) EraseLocked();
  std::fprintf(m_options.out, "%s\n", text.c_str());
  if (m_options.live && !m_held) {
    m_drawn = 0;
    DrawLocked();
  }
  std::fflush(m_options.out);
}

void StatusBoard::Hold(bool held) {
  const std::lock_guard lock(m_mutex);
  if (!m_options.live || held == m_held) return;
  if (held) {
    EraseLocked();
    m_drawn = 0;
    std::fflush(m_options.out);
  }
  m_held = held;
}

std::vector<std::string> StatusBoard::Lines() {
  const std::lock_guard lock(m_mutex);
  return LinesLocked(m_clock.NowMs());
}

std::string StatusBoard::RowText(const Row& row, std::int64_t nowMs) const {
  const std::int64_t elapsedMs = std::max<std::int64_t>(nowMs - row.startMs, 1);
  const double kibPerSecond =
      static_cast<double>(row.bytes) / 1024.0 * 1000.0 / static_cast<double>(elapsedMs);
  char figures[96];
  std::snprintf(figures, sizeof figures, " %3u%% %7.1f KiB/s  resends %lu ", row.percent,
                kibPerSecond, row.resends);
  std::string text = Fit(row.device, 21) + " ";
  switch (row.state) {
    case State::Waiting:
      return Cut(text + "waiting", m_options.width);
    case State::Running:
      text += Fit(row.phase, 18) + figures;
      text += row.percent == 0
                  ? "ETA -:--"
                  : "ETA " + Duration(elapsedMs * (100 - row.percent) / row.percent / 1000);
      break;
    case State::Done:
    case State::Failed:
      text += Fit(row.state == State::Done ? "ok" : "failed", 18) + figures;
      text += Duration(elapsedMs / 1000);
      break;
  }
  return Cut(text, m_options.width);
}

std::vector<std::string> StatusBoard::LinesLocked(std::int64_t nowMs) {
  std::vector<std::string> lines;
  std::size_t running = 0, done = 0, failed = 0, waiting = 0;
  for (const Row& row : m_rows) {
    switch (row.state) {
      case State::Running:
        ++running;
        break;
      case State::Done:
        ++done;
        break;
      case State::Failed:
        ++failed;
        break;
      case State::Waiting:
        ++waiting;
        break;
    }
  }
  const bool counted = m_rows.size() > 1;
  const std::size_t room = std::max<std::size_t>(m_options.maxLines, 2) - (counted ? 1 : 0);
  for (const Row& row : m_rows) {
    if (row.state == State::Running && lines.size() < room) lines.push_back(RowText(row, nowMs));
  }
  if (counted) {
    char count[128];
    std::snprintf(count, sizeof count, "%zu running%s, %zu waiting, %zu done, %zu failed", running,
                  running > lines.size() ? " (not all shown)" : "", waiting, done, failed);
    lines.push_back(Cut(count, m_options.width));
  }
  return lines;
}

void StatusBoard::EraseLocked() {
  // Up to the first live line, and everything below it cleared.
  if (m_drawn > 0) std::fprintf(m_options.out, "\x1b[%zuA\r\x1b[J", m_drawn);
}

void StatusBoard::DrawLocked() {
  if (m_held) return;
  const std::int64_t now = m_clock.NowMs();
  EraseLocked();
  for (Row& row : m_rows) {
    if ((row.state == State::Done || row.state == State::Failed) && !row.finalShown) {
      std::fprintf(m_options.out, "%s\n", RowText(row, now).c_str());
      row.finalShown = true;
    }
  }
  const std::vector<std::string> lines = LinesLocked(now);
  for (const std::string& line : lines) std::fprintf(m_options.out, "%s\n", line.c_str());
  m_drawn = lines.size();
  std::fflush(m_options.out);
}

void StatusBoard::Loop() {
  std::unique_lock lock(m_mutex);
  while (!m_stopping) {
    m_wake.wait_for(lock, std::chrono::milliseconds(m_options.redrawMs));
    if (!m_stopping) DrawLocked();
  }
}

}  // namespace orvel::cli
