// orvel-bench --link: how long one program transfer (the opening request, 960 image blocks and the
// checksum word: 962 requests) takes through the session's transfer engine over orvelctl's shared
// socket, against an orvel-sim that loses or delays what the options tell it to.
//
//   orvel-bench --link <path of orvel-sim> [--window N] [--resend-ms N|adaptive] [--rounds R]
//               [--read-back] [orvel-sim options...]
//
// Prints, per round: seconds, requests, resends, the requests the device lost on their way in,
// and whether the device ended up with the image and its checksum word. With --read-back the image
// is then read again through the engine (a region read under the same faults) and compared.

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "device/shared_link.h"
#include "platform/clock.h"
#include "platform/utf8.h"
#include "protocol/memory_map.h"
#include "session/device_session.h"

namespace orvel::bench {

namespace {

struct LinkOptions {
  TransferSettings transfer;
  int rounds = 1;
  bool readBack = false;
  std::vector<std::string> simOptions;
};

unsigned Number(const std::vector<std::string>& args, std::size_t& i) {
  if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
  return static_cast<unsigned>(std::stoul(args[++i]));
}

LinkOptions Parse(const std::vector<std::string>& args) {
  LinkOptions options;
  options.transfer.resendMs.reset();  // adaptive unless told otherwise
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--window") {
      options.transfer.window = Number(args, i);
    } else if (args[i] == "--resend-ms" && i + 1 < args.size() && args[i + 1] == "adaptive") {
      ++i;
    } else if (args[i] == "--resend-ms") {
      options.transfer.resendMs = Number(args, i);
    } else if (args[i] == "--read-back") {
      options.readBack = true;
    } else if (args[i] == "--rounds") {
      options.rounds = static_cast<int>(Number(args, i));
    } else {
      options.simOptions.push_back(args[i]);
    }
  }
  return options;
}

}  // namespace

int LinkBenchMain(const std::string& simProgram, const std::vector<std::string>& args) {
  const LinkOptions options = Parse(args);
  std::mt19937 random(
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const auto image = Image(memory::kProgramSize);
  int failed = 0;
  for (int round = 0; round < options.rounds; ++round) {
    const std::uint16_t port = PickPort(random);
    SimDevice sim(simProgram, port, random, options.simOptions);
    BenchDesktop desktop;
    SteadyClock clock;
    SharedSockets sockets;
    CDeviceSession session(desktop, clock, std::make_unique<SharedLink>(sockets, desktop));
    session.m_deviceAddress = 0x7F000002;
    session.m_localAddress = 0x7F000001;
    session.m_port = port;
    session.m_timeLimit = 40;
    session.m_transfer = options.transfer;
    session.BeginTask();

    double seconds = 0;
    bool transferred = false;
    std::string readBack;
    try {
      const auto lease = session.GetLink();
      const auto start = std::chrono::steady_clock::now();
      session.TransferProgram(image, true);
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      transferred = desktop.boxes == 0;
      if (options.readBack) {
        std::vector<std::uint8_t> read(image.size(), 0);
        session.ReadRegion(memory::kProgramBase, static_cast<int>(read.size()), read.data(), true);
        readBack = read == image ? ", read back" : ", READ BACK DIFFERS";
        transferred = transferred && read == image && desktop.boxes == 0;
      }
    } catch (const CMBoxExeption& box) {
      std::fprintf(stderr, "box: %s: %s\n", ToUtf8(box.Caption()).c_str(),
                   ToUtf8(box.Text()).c_str());
    }
    const bool clean = sim.Stop();
    const bool verified = clean && sim.StateIs("program.bin", image.data(), image.size()) &&
                          sim.StateIs("checksum.bin", session.ChecksumWord(image).data(), 4);
    std::printf("%.3f s, requests %lu, resends %lu, lost on the way in %zu, slow %zu, %s%s\n",
                seconds, session.m_stats.requests, session.m_stats.resends,
                sim.LogLinesWith(" lost"), sim.LogLinesWith("slow"),
                transferred && verified ? "verified" : "FAILED", readBack.c_str());
    failed += transferred && verified ? 0 : 1;
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace orvel::bench
