#include "soak/fault_mix.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>

namespace orvel::soak {
namespace {

constexpr std::size_t kProgramArea = 0x3C000;
constexpr std::size_t kConfigNew = 44916;
// The share of runs that have any one fault.
constexpr double kInclude = 0.35;

// Draws from the run's seed; the fractions are the same on every platform.
class Dice {
 public:
  explicit Dice(std::uint64_t seed) : m_random(seed) {}
  double Fraction() { return static_cast<double>(m_random() >> 11) * 0x1.0p-53; }
  bool Chance(double probability) { return Fraction() < probability; }
  double Between(double low, double high) { return low + (high - low) * Fraction(); }
  std::size_t Below(std::size_t count) {
    return std::min(count - 1, static_cast<std::size_t>(Fraction() * static_cast<double>(count)));
  }
  template <typename T, std::size_t N>
  T Pick(const T (&choices)[N]) {
    return choices[Below(N)];
  }

 private:
  std::mt19937_64 m_random;
};

std::string Text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.5f", value);
  return text;
}

// About how many requests the task sends, so that a fault's rate gives about the number of hits
// drawn for it whatever the task: each costs a resend window (1.5 s) or more.
double Requests(const FaultMix& mix) {
  switch (mix.task) {
    case Task::ReadConfig:
      return 177;
    case Task::WriteConfig:
      return 178;
    case Task::WriteProgram:
      return 962;
    case Task::Update: {
      double requests = 356 + static_cast<double>(mix.program.size()) / 256;
      for (const test::Bytes& part : mix.parts) requests += 2 + part.size() / 254;
      return requests;
    }
  }
  return 200;
}

struct Faults {
  double drop = 0, duplicate = 0, late = 0, stranger = 0, shortRead = 0, lose = 0;
  unsigned jitterMs = 0;
  double jitterRate = 0;
  std::optional<unsigned> copyAfterMs;
  bool dropFirstVersion = false;
  bool restartUnanswered = false;  // its answer comes 1.6 s late, after the tool stopped waiting
  double restartSilenceS = 0;
  std::optional<unsigned> silentAfter;
};

constexpr unsigned kRestartAnswerDelayMs = 1600;
constexpr unsigned kRestartWindowMs = 1500;
constexpr unsigned kMarginMs = 300;

// What the protocol cannot tell apart. Answers without an address ("OK") are tied to their request
// by time alone, so in the update's parts:
//  - a copy of an answer that comes after the next request went out is taken for that request's
//    answer; when that request never reached the device (lost on its way, or a device gone silent)
//    the device misses it and nobody can know. Copies, duplicates and late answers (the previous
//    answer sent again before the next one: two "OK"s for one request) are not mixed with requests
//    that do not reach the device.
//  - the same for a device still silent after the restart wait: every "OK" of the restart (late,
//    copied) must have come before the first descriptor goes out, or the device be back by then.
void KeepWithinWhatTheProtocolCanTell(const FaultMix& mix, Faults& faults) {
  if (mix.task != Task::Update) return;
  if (faults.lose > 0 || faults.silentAfter) {
    faults.copyAfterMs.reset();
    faults.duplicate = 0;
    faults.late = 0;
  }
  if (faults.restartSilenceS * 1000 + kMarginMs <= mix.restartWaitS * 1000.0) return;
  const unsigned copy = faults.copyAfterMs.value_or(0);
  const unsigned lateRestart =
      (faults.restartUnanswered ? kRestartAnswerDelayMs : 0) + faults.jitterMs + copy;
  if (copy + kMarginMs > mix.restartWaitS * 1000 ||
      lateRestart + kMarginMs > kRestartWindowMs + mix.restartWaitS * 1000) {
    faults.restartSilenceS = std::max(0.0, mix.restartWaitS - 0.5);
  }
}

}  // namespace

const char* TaskName(Task task) {
  switch (task) {
    case Task::ReadConfig:
      return "read-config";
    case Task::WriteConfig:
      return "write-config";
    case Task::WriteProgram:
      return "write-program";
    case Task::Update:
      return "update";
  }
  return "?";
}

FaultMix DrawMix(std::uint64_t seed) {
  Dice dice(seed);
  FaultMix mix;
  static constexpr Task kTasks[] = {Task::ReadConfig, Task::WriteConfig, Task::WriteProgram,
                                    Task::Update, Task::Update};
  mix.task = dice.Pick(kTasks);
  const auto fill = static_cast<std::uint8_t>(dice.Below(256));
  switch (mix.task) {
    case Task::ReadConfig:
      // Older firmware too, with or without an answer to the version request.
      if (dice.Chance(0.25)) mix.versionNumber = 5;
      break;
    case Task::WriteConfig:
      mix.input = test::PatternBytes(kConfigNew, fill);
      break;
    case Task::WriteProgram:
      if (dice.Chance(0.25)) mix.versionNumber = 5;
      mix.input = test::PatternBytes(kProgramArea, fill);
      break;
    case Task::Update: {
      mix.program = test::PatternBytes(256 + dice.Below(6000), fill);
      const std::size_t parts = dice.Below(4);
      for (std::size_t k = 0; k < parts; ++k) {
        mix.parts.push_back(
            test::PatternBytes(dice.Below(800), static_cast<std::uint8_t>(fill + k + 1)));
      }
      static constexpr unsigned kWaits[] = {1, 2};
      mix.restartWaitS = dice.Pick(kWaits);
      break;
    }
  }
  const bool asksVersion = mix.task != Task::WriteProgram;
  const bool reads = mix.task == Task::ReadConfig || mix.task == Task::Update;
  const bool restarts = mix.task == Task::WriteConfig || mix.task == Task::Update;
  const double requests = Requests(mix);
  const auto rateFor = [&](double expected, double among) {
    return std::min(1.0, expected / among);
  };

  // Every die is rolled whatever the task, so that the draws stay in step.
  Faults faults;
  if (dice.Chance(kInclude)) faults.drop = rateFor(dice.Between(0.3, 2), requests);
  if (dice.Chance(kInclude)) faults.duplicate = dice.Between(0.05, 1);
  if (dice.Chance(kInclude)) faults.late = dice.Between(0.02, 0.3);
  if (dice.Chance(kInclude)) faults.stranger = dice.Between(0.01, 0.2);
  const double shortReads = dice.Between(0.3, 2);
  if (dice.Chance(kInclude) && reads) faults.shortRead = rateFor(shortReads, 176);
  if (dice.Chance(kInclude)) faults.lose = rateFor(dice.Between(0.3, 2), requests);
  static constexpr unsigned kCopies[] = {0, 1, 3, 10, 100, 700, 1600};
  const unsigned copy = dice.Pick(kCopies);
  if (dice.Chance(kInclude)) faults.copyAfterMs = copy;
  const auto jitterMs = static_cast<unsigned>(dice.Between(50, 2000));
  const double jittered = dice.Between(1, 4);
  if (dice.Chance(kInclude)) {
    faults.jitterMs = jitterMs;
    faults.jitterRate = rateFor(jittered, requests);
  }
  faults.dropFirstVersion = dice.Chance(0.3) && asksVersion;
  faults.restartUnanswered = dice.Chance(0.25) && restarts;
  static constexpr double kSilences[] = {0, 0.5, 1, 2, 3};
  faults.restartSilenceS = dice.Pick(kSilences);
  // Now and then a device that goes silent for good: the task ends after the 40-s limit.
  const auto silentAfter = static_cast<unsigned>(dice.Below(static_cast<std::size_t>(requests)));
  if (dice.Chance(0.02)) faults.silentAfter = silentAfter;
  const bool noVersionAnswer = dice.Chance(0.5);

  KeepWithinWhatTheProtocolCanTell(mix, faults);

  auto& args = mix.simArgs;
  args = {"--version-number", std::to_string(mix.versionNumber), "--seed", std::to_string(seed)};
  if (mix.versionNumber < 100 && noVersionAnswer) args.push_back("--no-version-answer");
  const auto probability = [&args](const char* name, double value) {
    if (value > 0) args.insert(args.end(), {name, Text(value)});
  };
  probability("--drop", faults.drop);
  probability("--duplicate", faults.duplicate);
  probability("--late", faults.late);
  probability("--stranger", faults.stranger);
  probability("--short-read", faults.shortRead);
  probability("--lose", faults.lose);
  if (faults.copyAfterMs) args.insert(args.end(), {"--copy-after", std::to_string(copy)});
  if (faults.jitterMs > 0) {
    args.insert(args.end(), {"--jitter", std::to_string(faults.jitterMs)});
    probability("--jitter-rate", faults.jitterRate);
  }
  if (faults.dropFirstVersion) args.push_back("--drop-first-version");
  if (faults.restartUnanswered) {
    args.insert(args.end(),
                {"--delay", std::to_string(kRestartAnswerDelayMs), "--delay-only", "0C"});
  }
  if (faults.restartSilenceS > 0) {
    args.insert(args.end(), {"--restart-silence", Text(faults.restartSilenceS)});
  }
  if (faults.silentAfter) {
    args.insert(args.end(), {"--silent-after", std::to_string(*faults.silentAfter)});
  }
  return mix;
}

}  // namespace orvel::soak
