// The fault soak: many runs of orvelctl against orvel-sim, each with a mix of faults drawn from its
// seed (fault_mix.h). A run passes when orvelctl ends with 0 and the device (or the file) holds
// exactly what the task was to put there, or with 1 and a message. Exit 0 with anything else is a
// silent loss; a crash, a hang or another exit status is a failure too.
//
//   orvel-soak [--runs N] [--seed S] [--jobs J] [--regressions FILE] [--verbose]
//              [-- orvelctl options...]
//
// Runs use the seeds S, S+1, ... S+N-1, after every seed listed in FILE (one a line, # comments):
// the silent losses found earlier. It prints a line for every failed run, with the commands that
// repeat it, and ends with "soak: R runs, A exit 0, B exit 1, C silent losses, D other failures";
// its exit status is 1 when any run failed. --verbose adds a line per run on stderr.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "firmware/program_image.h"
#include "protocol/packets.h"
#include "soak/fault_mix.h"
#include "support/package_builder.h"
#include "support/run_command.h"
#include "support/sim_process.h"

namespace orvel::soak {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::CommandResult;
using test::SimProcess;

enum class Verdict { Done, Failed, SilentLoss, Broken };

struct Outcome {
  Verdict verdict = Verdict::Broken;
  std::string detail;
};

constexpr auto kRunLimit = std::chrono::seconds(150);

std::string Joined(const std::vector<std::string>& words) {
  std::string line;
  for (const std::string& word : words) line += (line.empty() ? "" : " ") + word;
  return line;
}

// What differs between the device's state and what the finished task was to leave there; empty
// when nothing does.
std::string Difference(const FaultMix& mix, const SimProcess& sim, const fs::path& file,
                       const Bytes& configBefore, const Bytes& programBefore) {
  const auto state = [&sim](const char* name) { return sim.ReadState(name); };
  switch (mix.task) {
    case Task::ReadConfig:
      return test::ReadBytes(file) == state("config.bin") ? "" : "the file is not config.bin";
    case Task::WriteConfig:
      return state("config.bin") == mix.input ? "" : "config.bin is not the file written";
    case Task::WriteProgram: {
      if (state("program.bin") != mix.input) return "program.bin is not the image";
      const auto word = firmware::ChecksumWord(mix.input);
      return state("checksum.bin") == Bytes(word.begin(), word.end()) ? "" : "checksum.bin";
    }
    case Task::Update: {
      Bytes program = programBefore;
      std::copy(mix.program.begin(), mix.program.end(), program.begin());
      if (state("program.bin") != program) return "program.bin";
      const auto word = firmware::ChecksumWord(mix.program);
      if (state("checksum.bin") != Bytes(word.begin(), word.end())) return "checksum.bin";
      if (state("config.bin") != configBefore) return "config.bin is not the configuration kept";
      std::uint32_t offset = 0;
      for (std::size_t k = 0; k < mix.parts.size(); ++k) {
        const std::string name = "parts/part-" + std::to_string(k + 1);
        if (!fs::exists(sim.stateDir() / (name + ".bin"))) return name + " never arrived";
        if (sim.ReadState(name + ".bin") != mix.parts[k]) return name + ".bin differs";
        UpdatePartDescriptor descriptor;
        descriptor.partNumber = static_cast<std::uint32_t>(k + 1);
        descriptor.partSize = static_cast<std::uint32_t>(mix.parts[k].size());
        descriptor.partOffset = offset;
        offset += descriptor.partSize;
        const auto encoded = descriptor.Encode();
        if (sim.ReadState(name + ".desc") != Bytes(encoded.begin(), encoded.end())) {
          return name + ".desc differs";
        }
      }
      const std::string extra = "parts/part-" + std::to_string(mix.parts.size() + 1) + ".bin";
      return fs::exists(sim.stateDir() / extra) ? extra + " was never sent" : "";
    }
  }
  return "unknown task";
}

Outcome Run(std::uint64_t seed, const std::vector<std::string>& extra, std::string& commands) {
  const FaultMix mix = DrawMix(seed);
  test::TempFolder folder;
  fs::path file = folder.path() / "input";
  switch (mix.task) {
    case Task::ReadConfig:
      file = folder.path() / "out.bin";
      break;
    case Task::Update: {
      test::PackageContents package;
      package.version = {2, 111};
      package.program = mix.program;
      package.parts = mix.parts;
      // A part is read only while more than 20 bytes follow it: a short last part needs a tail.
      package.tail = Bytes(20, 0);
      test::WriteBytes(file, test::BuildPackage(package));
      break;
    }
    default:
      test::WriteBytes(file, mix.input);
  }
  SimProcess sim(mix.simArgs);
  const Bytes configBefore = sim.ReadState("config.bin");
  const Bytes programBefore = sim.ReadState("program.bin");
  std::vector<std::string> args = {"-d",
                                   SimProcess::kAddress,
                                   "-p",
                                   std::to_string(sim.port()),
                                   "-i",
                                   SimProcess::kToolAddress,
                                   "--restart-wait",
                                   std::to_string(mix.restartWaitS)};
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {TaskName(mix.task), file.string()});
  commands = "orvel-sim --address " + std::string(SimProcess::kAddress) + " --port " +
             std::to_string(sim.port()) + " --state DIR " + Joined(mix.simArgs) +
             "\n    orvelctl " + Joined(args);

  const CommandResult result = test::RunCommand(ORVELCTL_PATH, args, folder.path(), kRunLimit);
  const int simStatus = sim.Stop();
  const std::string tail =
      result.err.size() > 600 ? result.err.substr(result.err.size() - 600) : result.err;
  if (simStatus != 0) return {Verdict::Broken, "orvel-sim ended with " + std::to_string(simStatus)};
  if (result.timedOut) return {Verdict::Broken, "hung, killed after 150 s"};
  if (result.signal != 0) return {Verdict::Broken, "signal " + std::to_string(result.signal)};
  if (result.exitCode == 1) {
    if (result.err.empty()) return {Verdict::Broken, "exit 1 without a message"};
    return {Verdict::Failed, ""};
  }
  if (result.exitCode != 0) {
    return {Verdict::Broken, "exit " + std::to_string(result.exitCode) + ": " + tail};
  }
  const std::string difference = Difference(mix, sim, file, configBefore, programBefore);
  if (!difference.empty()) return {Verdict::SilentLoss, difference + "\n" + tail};
  return {Verdict::Done, ""};
}

std::vector<std::uint64_t> RegressionSeeds(const std::string& path) {
  std::vector<std::uint64_t> seeds;
  std::ifstream in(path);
  if (!in) {
    std::fprintf(stderr, "soak: cannot read %s\n", path.c_str());
    std::exit(2);
  }
  for (std::string line; std::getline(in, line);) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::uint64_t seed = 0;
    if (words >> seed) seeds.push_back(seed);
  }
  return seeds;
}

int Main(int argc, char** argv) {
  std::uint64_t runs = 10, base = 1;
  unsigned jobs = 1;
  bool verbose = false;
  std::vector<std::uint64_t> seeds;
  std::vector<std::string> extra;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--") {
      extra.assign(argv + i + 1, argv + argc);
      break;
    }
    if (name == "--verbose") {
      verbose = true;
      continue;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr,
                   "usage: orvel-soak [--runs N] [--seed S] [--jobs J] "
                   "[--regressions FILE] [-- orvelctl options...]\n");
      return 2;
    }
    const std::string value = argv[++i];
    if (name == "--runs") {
      runs = std::stoull(value);
    } else if (name == "--seed") {
      base = std::stoull(value);
    } else if (name == "--jobs") {
      jobs = static_cast<unsigned>(std::max(1ull, std::stoull(value)));
    } else if (name == "--regressions") {
      seeds = RegressionSeeds(value);
    } else {
      std::fprintf(stderr, "soak: unknown option %s\n", name.c_str());
      return 2;
    }
  }
  for (std::uint64_t i = 0; i < runs; ++i) seeds.push_back(base + i);

  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::size_t counts[4] = {};
  const std::string again = extra.empty() ? "" : " -- " + Joined(extra);
  const auto work = [&] {
    for (std::size_t index = next++; index < seeds.size(); index = next++) {
      const std::uint64_t seed = seeds[index];
      std::string commands;
      Outcome outcome;
      const auto start = std::chrono::steady_clock::now();
      try {
        outcome = Run(seed, extra, commands);
      } catch (const std::exception& error) {
        outcome = {Verdict::Broken, error.what()};
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      const std::lock_guard lock(mutex);
      ++counts[static_cast<int>(outcome.verdict)];
      if (verbose) {
        static constexpr const char* kVerdicts[] = {"exit 0", "exit 1", "silent loss", "failed"};
        std::fprintf(stderr, "soak: seed %llu %s: %s, %.1f s\n",
                     static_cast<unsigned long long>(seed), TaskName(DrawMix(seed).task),
                     kVerdicts[static_cast<int>(outcome.verdict)], took.count());
      }
      if (outcome.verdict == Verdict::Done || outcome.verdict == Verdict::Failed) continue;
      std::printf(
          "soak: seed %llu: %s (%s): %s\n    %s\n    again: orvel-soak --runs 1 --seed %llu%s\n",
          static_cast<unsigned long long>(seed),
          outcome.verdict == Verdict::SilentLoss ? "SILENT LOSS" : "FAILED",
          TaskName(DrawMix(seed).task), outcome.detail.c_str(), commands.c_str(),
          static_cast<unsigned long long>(seed), again.c_str());
      std::fflush(stdout);
    }
  };
  std::vector<std::thread> workers;
  for (unsigned j = 1; j < jobs; ++j) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();

  std::printf("soak: %zu runs, %zu exit 0, %zu exit 1, %zu silent losses, %zu other failures\n",
              seeds.size(), counts[0], counts[1], counts[2], counts[3]);
  return counts[2] + counts[3] == 0 ? 0 : 1;
}

}  // namespace
}  // namespace orvel::soak

int main(int argc, char** argv) { return orvel::soak::Main(argc, argv); }
