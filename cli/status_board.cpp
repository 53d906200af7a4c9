#include "cli/status_board.h"

#include <algorithm>
#include <string_view>

#include "platform/utf8.h"

namespace orvel::cli {
namespace {

// A request sent again this recently shows as "resending" in place of the rate.
constexpr std::int64_t kResendingMs = 3000;

// text cut or padded to exactly width characters.
std::string Fit(const std::string& text, std::size_t width) {
  std::wstring wide = FromUtf8(text);
  wide.resize(width, L' ');
  return ToUtf8(wide);
}

// text cut to width characters, or blanks before it up to width.
std::string RightFit(const std::string& text, std::size_t width) {
  std::wstring wide = FromUtf8(text);
  if (wide.size() > width) wide.resize(width);
  return ToUtf8(std::wstring(width - wide.size(), L' ') + wide);
}

// text cut to at most width characters, without blanks at its end.
std::string Cut(const std::string& text, std::size_t width) {
  std::wstring wide = FromUtf8(text);
  if (wide.size() > width) wide.resize(width);
  while (!wide.empty() && wide.back() == L' ') wide.pop_back();
  return ToUtf8(wide);
}

// "0:07", "12:34", "1:02:03"; "--:--" past 99 hours.
std::string Duration(std::int64_t seconds) {
  if (seconds < 0 || seconds >= 100 * 3600) return "--:--";
  char text[24];
  if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  }
  return text;
}

// "61.3 KiB/s", "1234 KiB/s": at most 11 characters below 100 MiB/s.
std::string Rate(double bytesPerSecond) {
  const double kib = std::min(bytesPerSecond / 1024.0, 99999.0);
  char text[32];
  std::snprintf(text, sizeof text, kib < 999.95 ? "%.1f KiB/s" : "%.0f KiB/s", kib);
  return text;
}

}  // namespace

std::string StepName(const std::string& statusText, const std::string& fallback) {
  // The status texts of the tasks (session/), by how they begin.
  static constexpr std::pair<std::string_view, std::string_view> kSteps[] = {
      {"Считывание конфигурации", "read config"}, {"Запись программы", "write program"},
      {"Запись конфигурации", "write config"},    {"Проверка записи", "verify"},
      {"Перезагрузка прибора", "restart"},        {"На связи через", "device back"},
      {"Обновление прибора", "update parts"},     {"Прибор уже имеет версию", "current"},
  };
  for (const auto& [text, name] : kSteps) {
    if (statusText.starts_with(text)) return std::string(name);
  }
  return fallback;
}

StatusBoard::StatusBoard(Options options, IClock& clock)
    : m_options(options), m_clock(clock), m_lastCountMs(clock.NowMs()) {
  if (m_options.redrawMs > 0) m_thread = std::thread([this] { Loop(); });
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

void StatusBoard::Start(std::size_t line, const std::string& command) {
  const std::lock_guard lock(m_mutex);
  Row& row = m_rows.at(line);
  row.state = State::Running;
  row.command = command;
  row.step = command;
  row.startMs = row.stepStartMs = m_clock.NowMs();
  if (m_options.live) DrawLocked();
}

void StatusBoard::Update(std::size_t line, const std::string& status, std::uint64_t bytes,
                         std::uint64_t queuedBytes, unsigned long resends) {
  const std::lock_guard lock(m_mutex);
  Row& row = m_rows.at(line);
  const std::int64_t now = m_clock.NowMs();
  const std::string step = status.empty() ? row.step : StepName(status, row.command);
  // A new step, or within a step a new transfer after the last one was answered whole (a write
  // and its read-back): the percent, the rate and the time left start from here.
  const bool nextTransfer =
      queuedBytes > row.queued && row.bytes == row.queued && row.bytes > row.stepBytes;
  if (step != row.step || nextTransfer) {
    row.step = step;
    row.stepStartMs = now;
    row.stepBytes = row.bytes;
    row.stepQueued = row.queued;
  }
  if (resends > row.resends) row.lastResendMs = now;
  row.bytes = bytes;
  row.queued = std::max(queuedBytes, bytes);
  row.resends = resends;
}

void StatusBoard::Finish(std::size_t line, const std::string& result, bool ok,
                         const std::string& note) {
  const std::lock_guard lock(m_mutex);
  Row& row = m_rows.at(line);
  row.state = ok ? State::Done : State::Failed;
  row.result = result;
  row.note = note;
  row.endMs = m_clock.NowMs();
  if (m_options.live) {
    DrawLocked();
  } else if (m_rows.size() > 1) {
    std::fprintf(m_options.out, "%s\n", FinalText(row).c_str());
    std::fflush(m_options.out);
    row.finalShown = true;
  }
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

void StatusBoard::Tick() {
  const std::lock_guard lock(m_mutex);
  if (m_options.live) {
    DrawLocked();
    return;
  }
  const std::int64_t now = m_clock.NowMs();
  const bool running = std::any_of(m_rows.begin(), m_rows.end(),
                                   [](const Row& row) { return row.state == State::Running; });
  if (m_rows.size() < 2 || !running || now - m_lastCountMs < m_options.countEveryMs) return;
  m_lastCountMs = now;
  std::fprintf(m_options.out, "%s\n", CountText().c_str());
  std::fflush(m_options.out);
}

std::vector<std::string> StatusBoard::Lines() {
  const std::lock_guard lock(m_mutex);
  return LinesLocked(m_clock.NowMs());
}

std::string StatusBoard::RowText(const Row& row, std::int64_t nowMs) const {
  // device 21, step 13, percent 4, rate 11, resends 13, time left 12, blanks between: 79.
  std::string text = Fit(row.device, 21) + " " + Fit(row.step, 13) + " ";
  const std::uint64_t done = row.bytes - row.stepBytes;
  const std::uint64_t total = row.queued - row.stepQueued;
  const std::int64_t stepMs = std::max<std::int64_t>(nowMs - row.stepStartMs, 1);
  const double rate = static_cast<double>(done) * 1000.0 / static_cast<double>(stepMs);
  char percent[8] = "    ";
  if (total > 0) std::snprintf(percent, sizeof percent, "%3u%%", unsigned(done * 100 / total));
  const bool resending = row.lastResendMs >= 0 && nowMs - row.lastResendMs < kResendingMs;
  text += std::string(percent) + " ";
  text += RightFit(resending ? "resending" : total > 0 ? Rate(rate) : "", 11) + " ";
  char resent[24];
  if (row.resends < 1'000'000) {
    std::snprintf(resent, sizeof resent, "resent %lu", row.resends);
  } else {
    std::snprintf(resent, sizeof resent, "resent %.1fM", static_cast<double>(row.resends) / 1e6);
  }
  text += Fit(resent, 13) + " ";
  if (total == 0) {
    text += "wait " + Duration(stepMs / 1000);
  } else if (done == 0 || rate <= 0) {
    text += "ETA -:--";
  } else {
    text += "ETA " +
            Duration(static_cast<std::int64_t>(static_cast<double>(total - done) / rate + 0.5));
  }
  return Cut(text, m_options.width);
}

std::string StatusBoard::FinalText(const Row& row) const {
  char figures[64];
  std::snprintf(figures, sizeof figures, "%7.1f s  resent %lu",
                static_cast<double>(row.endMs - row.startMs) / 1000.0, row.resends);
  std::string text = Fit(row.device, 21) + " " + Fit(row.result, 11) + " " + figures;
  if (!row.note.empty()) text += "  " + row.note;
  return Cut(text, m_options.width);
}

std::string StatusBoard::CountText() const {
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
  char count[128];
  std::snprintf(count, sizeof count, "%zu running, %zu waiting, %zu done, %zu failed", running,
                waiting, done, failed);
  return count;
}

std::vector<std::string> StatusBoard::LinesLocked(std::int64_t nowMs) {
  std::vector<std::string> lines;
  const bool counted = m_rows.size() > 1;
  const std::size_t room = std::max<std::size_t>(m_options.maxLines, 2) - (counted ? 1 : 0);
  std::size_t running = 0;
  for (const Row& row : m_rows) {
    if (row.state != State::Running) continue;
    ++running;
    if (lines.size() < room) lines.push_back(RowText(row, nowMs));
  }
  if (counted) {
    std::string count = CountText();
    if (running > lines.size()) count += " (" + std::to_string(lines.size()) + " shown)";
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
      std::fprintf(m_options.out, "%s\n", FinalText(row).c_str());
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
    if (m_stopping) break;
    lock.unlock();
    Tick();
    lock.lock();
  }
}

}  // namespace orvel::cli
