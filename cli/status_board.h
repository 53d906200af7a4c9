#pragma once
// What a run tells while it goes, on stderr.
//
// On a terminal, the live lines: one per running device with its step, the step's percent by bytes,
// the step's rate, its resends and the time the step has left at that rate, e.g.
//   10.0.0.5:40000        write program  42%  61.3 KiB/s resent 3      ETA 0:04
//   10.0.0.6:40000        write program  16%   resending resent 31     ETA 1:13
//   10.0.0.7:40000        restart                        resent 0      wait 0:12
// redrawn a few times a second by a thread of its own; every line fits the width. A step that
// moves no bytes (the restart, the version query) shows how long it has waited instead. "resending"
// stands for the rate while a request went again in the last seconds. A device that ends leaves
// one final line above them; with more devices running than lines allowed, the lines end with a
// count of the rest. Messages (the boxes of the devices) are printed above the live lines.
//
// Without a terminal, with several devices: one line per device as it ends (the final line), and a
// count line every countEveryMs while devices run. Every call is thread-safe.

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace orvel::cli {

// The live line's short English name of a task's status text ("Запись программы ..." is
// "write program"); a text it does not know gives fallback.
std::string StepName(const std::string& statusText, const std::string& fallback);

class StatusBoard {
 public:
  struct Options {
    std::FILE* out = stderr;
    bool live = false;          // a terminal: draw the live lines
    std::size_t maxLines = 20;  // live lines at most, the count line included
    std::size_t width = 79;     // characters of a line at most
    // The board's own thread wakes this often (0: no thread; the owner calls Tick).
    unsigned redrawMs = 250;
    std::int64_t countEveryMs = 10'000;  // without a terminal: the count line's period
  };

  StatusBoard(Options options, IClock& clock);
  // Draws the last state and leaves the terminal below it.
  ~StatusBoard();
  StatusBoard(const StatusBoard&) = delete;
  StatusBoard& operator=(const StatusBoard&) = delete;

  // A device's line, before it starts; returns its number.
  std::size_t Add(const std::string& device);
  // The device starts its task (the command's name: the step until a status text names one).
  void Start(std::size_t line, const std::string& command);
  // The task's status text (empty: unchanged), the data bytes answered and queued so far
  // (TaskStats), and its resends.
  void Update(std::size_t line, const std::string& status, std::uint64_t bytes,
              std::uint64_t queuedBytes, unsigned long resends);
  // The device ended: its result word ("ok", "failed", ...), whether that counts as done, and a
  // note for the final line (an error code).
  void Finish(std::size_t line, const std::string& result, bool ok, const std::string& note = "");
  // A message line, printed above the live lines.
  void Print(const std::string& text);
  // While held, nothing is drawn (a question is being asked on the terminal).
  void Hold(bool held);
  // What the thread does on each wake: redraw, or without a terminal the count line when due.
  void Tick();

  // The live lines as they would be drawn now.
  std::vector<std::string> Lines();

 private:
  enum class State { Waiting, Running, Done, Failed };
  struct Row {
    std::string device;
    std::string command;
    std::string step;
    State state = State::Waiting;
    std::string result;
    std::string note;
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    std::int64_t stepStartMs = 0;
    std::uint64_t bytes = 0;
    std::uint64_t queued = 0;
    std::uint64_t stepBytes = 0;  // bytes and queued when the step (or its transfer) began
    std::uint64_t stepQueued = 0;
    unsigned long resends = 0;
    std::int64_t lastResendMs = -1;
    bool finalShown = false;
  };

  std::string RowText(const Row& row, std::int64_t nowMs) const;
  std::string FinalText(const Row& row) const;
  std::string CountText() const;
  std::vector<std::string> LinesLocked(std::int64_t nowMs);
  void EraseLocked();
  void DrawLocked();
  void Loop();

  Options m_options;
  IClock& m_clock;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<Row> m_rows;
  std::size_t m_drawn = 0;  // live lines on the terminal now
  std::int64_t m_lastCountMs = 0;
  bool m_held = false;
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace orvel::cli
