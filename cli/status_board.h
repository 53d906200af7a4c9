#pragma once
// The live lines of a run on a terminal: one line per running device with its phase, percent,
// speed, resends and time left, e.g.
//   10.0.0.5:40000        Запись программы .  42%    61.3 KiB/s  resends 0  ETA 0:04
// redrawn a few times a second by a thread of its own. A device that ends leaves one final line
// above them; with more devices running than lines allowed, the lines end with a count of the rest.
// Messages (the boxes of the devices) are printed above the live lines. Every call is thread-safe.
// Without a terminal the board draws nothing and passes messages straight through.

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace orvel::cli {

class StatusBoard {
 public:
  struct Options {
    std::FILE* out = stderr;
    bool live = false;          // a terminal: draw the live lines
    std::size_t maxLines = 20;  // live lines at most, the count line included
    std::size_t width = 80;     // characters of a line at most
    unsigned redrawMs = 250;
  };

  StatusBoard(Options options, IClock& clock);
  // Draws the last state and leaves the terminal below it.
  ~StatusBoard();
  StatusBoard(const StatusBoard&) = delete;
  StatusBoard& operator=(const StatusBoard&) = delete;

  // A device's line, before it starts; returns its number.
  std::size_t Add(const std::string& device);
  void Start(std::size_t line, const std::string& phase);
  // percent of the task done; bytes moved and resends so far.
  void Update(std::size_t line, unsigned percent, const std::string& phase, std::uint64_t bytes,
              unsigned long resends);
  void Finish(std::size_t line, bool ok);
  // A message line, printed above the live lines.
  void Print(const std::string& text);
  // While held, nothing is drawn (a question is being asked on the terminal).
  void Hold(bool held);

  // The live lines as they would be drawn now.
  std::vector<std::string> Lines();

 private:
  enum class State { Waiting, Running, Done, Failed };
  struct Row {
    std::string device;
    std::string phase;
    State state = State::Waiting;
    unsigned percent = 0;
    std::uint64_t bytes = 0;
    unsigned long resends = 0;
    std::int64_t startMs = 0;
    bool finalShown = false;
  };

  std::string RowText(const Row& row, std::int64_t nowMs) const;
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
  bool m_held = false;
  bool m_stopping = false;
  std::thread m_thread;
};

}  // namespace orvel::cli
