// orvel-sim: simulated devices for the tests and the benchmark. Each device answers the service
// requests from its own UDP socket, keeps what it was given in memory, leaves its state in a
// folder, and can misbehave on purpose (see Usage()).
//
// One thread per device, each waiting on its own socket for at most the time until its next
// held-back answer is due: a request is answered without a reactor's round of its own, and one
// device's held answers, restart or saving never hold up another device. The main thread only
// waits for SIGINT or SIGTERM and then lets every device save its state. Nothing spins while the
// devices are idle.

#include <algorithm>
#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/signal_set.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>
#endif

#include "common/address_list.h"
#include "common/text.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "sim/device_model.h"
#include "sim/options.h"
#include "sim/state_folder.h"

namespace asio = boost::asio;
using asio::ip::udp;

namespace orvel::sim {
namespace {

// Which faults hit one answer. Every die is rolled for every answer, so a given seed gives the
// same sequence of faults whatever the probabilities of the others are.
struct FaultPlan {
  bool drop = false;
  bool duplicate = false;
  bool late = false;
  bool wrongEcho = false;
  bool wrongPort = false;
  bool stranger = false;
  bool shortRead = false;
  unsigned jitterMs = 0;  // how long the answer waits on top of --delay
  bool slow = false;
};

class FaultDice {
 public:
  FaultDice(const Faults& faults, std::uint64_t seed)
      : m_faults(faults),
        m_random(seed),
        m_later(seed ^ 0x9E3779B97F4A7C15u),
        m_jitter(seed ^ 0xC2B2AE3D27D4EB4Fu),
        m_inbound(seed ^ 0x165667B19E3779F9u) {}

  FaultPlan Roll() {
    FaultPlan plan;
    plan.drop = Hit(m_faults.drop);
    plan.duplicate = Hit(m_faults.duplicate);
    plan.late = Hit(m_faults.late);
    plan.wrongEcho = Hit(m_faults.wrongEcho);
    plan.wrongPort = Hit(m_faults.wrongPort);
    plan.stranger = Hit(m_faults.stranger);
    // Faults added later roll dice of their own, so that a seed keeps giving the earlier faults
    // it always gave.
    plan.shortRead = Hit(m_faults.shortRead, m_later);
    const bool jittered = Hit(m_faults.jitterRate, m_jitter);
    const double share = Fraction(m_jitter);
    if (jittered && m_faults.jitterMs > 0) {
      plan.jitterMs = static_cast<unsigned>(share * (m_faults.jitterMs + 1.0));
    }
    ++m_answers;
    plan.slow = m_faults.slowEvery > 0 && m_answers % m_faults.slowEvery == 0;
    return plan;
  }

  // Whether the next request is lost on its way in; rolled for every request that arrives.
  bool LoseRequest() { return Hit(m_faults.lose, m_inbound); }

 private:
  // 53 random bits as a fraction in [0, 1): the same on every platform, unlike the standard
  // distributions.
  static double Fraction(std::mt19937_64& random) {
    return static_cast<double>(random() >> 11) * 0x1.0p-53;
  }
  bool Hit(double probability) { return Hit(probability, m_random); }
  static bool Hit(double probability, std::mt19937_64& random) {
    return Fraction(random) < probability;
  }

  Faults m_faults;
  std::mt19937_64 m_random;
  std::mt19937_64 m_later;
  std::mt19937_64 m_jitter;
  std::mt19937_64 m_inbound;
  std::uint64_t m_answers = 0;
};

class Simulator {
 public:
  // The sockets belong to io, which may be shared by every device and is not run: they are only
  // used with calls of their own, from this device's thread.
  Simulator(asio::io_context& io, const Options& options, std::uint32_t address, std::uint64_t seed,
            DeviceModel& device, const StateFolder& state)
      : m_options(options),
        m_address(address),
        m_device(device),
        m_state(state),
        m_socket(io),
        m_otherSocket(io),
        m_dice(options.faults, seed) {}

  // Binds both sockets and writes the first state; throws on failure.
  std::uint16_t Start() {
    const asio::ip::address_v4 address(m_address);
    m_socket.open(udp::v4());
    m_socket.bind(udp::endpoint(address, m_options.port));
    m_socket.non_blocking(true);
    // The second socket sends the answers that come from the wrong port, on the same address.
    m_otherSocket.open(udp::v4());
    m_otherSocket.bind(udp::endpoint(address, 0));
    SaveState();
    return m_socket.local_endpoint().port();
  }

  // Serves requests until stopping is set, then saves the state.
  void Run(const std::atomic<bool>& stopping) {
    using namespace std::chrono;
    while (!stopping.load(std::memory_order_relaxed)) {
      const auto now = steady_clock::now();
      while (!m_heldBack.empty() && m_heldBack.front().due <= now) {
        // Taken off first: sending may hold back a copy of its own.
        const std::function<void()> send = std::move(m_heldBack.front().send);
        m_heldBack.pop_front();
        send();
      }
      int waitMs = kLookMs;
      if (!m_heldBack.empty()) {
        // Rounded up: waking before the answer is due would only come round again.
        const auto left = duration_cast<microseconds>(m_heldBack.front().due - now).count();
        waitMs = static_cast<int>(std::clamp<long long>((left + 999) / 1000, 0, kLookMs));
      }
      if (!WaitReadable(waitMs)) continue;
      const long size = ReceiveOne();
      if (size >= 0) OnDatagram(static_cast<std::size_t>(size));
    }
    Shutdown();
  }

 private:
  // The longest a device waits before it looks whether it is to stop.
  static constexpr int kLookMs = 100;

  // Whether a datagram (or an error) waits on the socket, within ms. A poll rather than a receive
  // time-out: the poll's timer is as fine as the system can make it, the receive time-out's may be
  // a whole scheduler tick, too coarse for answers held back a few milliseconds.
  bool WaitReadable(int ms) {
#ifdef _WIN32
    WSAPOLLFD entry{};
    entry.fd = m_socket.native_handle();
    entry.events = POLLRDNORM;
    return ::WSAPoll(&entry, 1, ms) > 0;
#else
    pollfd entry{};
    entry.fd = m_socket.native_handle();
    entry.events = POLLIN;
    return ::poll(&entry, 1, ms) > 0;
#endif
  }

  // One datagram into m_buffer and its sender into m_sender; -1 when none waits or after an error
  // (a reset reported for an earlier answer on some platforms), neither of which stops the device.
  long ReceiveOne() {
    boost::system::error_code error;
    const std::size_t size = m_socket.receive_from(asio::buffer(m_buffer), m_sender, 0, error);
    return error ? -1 : static_cast<long>(size);
  }

  void OnDatagram(std::size_t size) {
    const std::uint64_t sequence = ++m_received;
    const auto now = std::chrono::steady_clock::now();
    if (m_dice.LoseRequest()) {
      m_log.Add(sequence, Peek(size), false, "lost");
      return;
    }
    // Counted apart from the log's sequence: a request lost on its way never reached the device.
    ++m_seen;
    if (m_options.faults.silentAfter && m_seen > *m_options.faults.silentAfter) {
      m_log.Add(sequence, Peek(size), false, "silent");
      return;
    }
    if (now < m_restartingUntil) {
      m_log.Add(sequence, Peek(size), false, "restarting");
      return;
    }

    Reply reply = m_device.Handle(m_buffer.data(), size);
    if (!reply.answer) {
      m_log.Add(sequence, reply, false, reply.note);
    } else {
      FaultPlan plan = m_dice.Roll();
      const auto command = static_cast<ServiceCommand>(reply.command);
      if (command == ServiceCommand::Version && m_options.faults.dropFirstVersion &&
          !m_versionDropped) {
        plan.drop = m_versionDropped = true;
      }
      plan.shortRead = plan.shortRead && command == ServiceCommand::Read && reply.length > 0;
      std::string notes = reply.note;
      const auto note = [&notes](bool hit, const char* name) {
        if (!hit) return;
        if (!notes.empty()) notes += ",";
        notes += name;
      };
      note(plan.drop, "dropped");
      if (!plan.drop) {
        note(plan.stranger, "stranger");
        note(plan.late && m_previousAnswer.has_value(), "late");
        note(plan.wrongEcho && HasEcho(reply), "wrong-echo");
        note(plan.wrongPort, "wrong-port");
        note(plan.shortRead, "short");
        note(plan.duplicate, "duplicate");
        note(Delayed(reply), "delayed");
        note(plan.jitterMs > 0, "jitter");
        note(plan.slow, "slow");
        note(m_options.faults.copyAfterMs.has_value(), "copied");
      }
      const bool rightAnswer =
          !plan.drop && !plan.wrongPort && !(plan.wrongEcho && HasEcho(reply)) && !plan.shortRead;
      m_log.Add(sequence, reply, rightAnswer, notes);
      if (!plan.drop) Deliver(reply, plan, m_sender);
      m_previousAnswer = *reply.answer;
    }

    if (reply.restart) {
      m_restartingUntil = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(m_options.restartSilenceS));
      SaveState();
    }
  }

  // What the log can say about a request that the device did not look at.
  Reply Peek(std::size_t size) const {
    Reply reply;
    if (size >= orvel::protocol::kHeaderSize) {
      reply.command = m_buffer[2];
      reply.length = orvel::protocol::GetU16(m_buffer.data() + 4);
      reply.address = orvel::protocol::GetU32(m_buffer.data() + 6);
    }
    return reply;
  }

  bool Delayed(const Reply& reply) const {
    const Faults& faults = m_options.faults;
    return faults.delayMs > 0 && (!faults.delayOnly || *faults.delayOnly == reply.command);
  }

  static bool HasEcho(const Reply& reply) {
    const auto command = static_cast<ServiceCommand>(reply.command);
    return command == ServiceCommand::Read || command == ServiceCommand::Write;
  }

  void Deliver(const Reply& reply, const FaultPlan& plan, udp::endpoint to) {
    Bytes answer = *reply.answer;
    std::optional<Bytes> late;
    if (plan.late) late = m_previousAnswer;
    if (plan.wrongEcho && HasEcho(reply)) Corrupt(reply, answer, ~reply.address);
    if (plan.shortRead) {
      // Half the data, then the echo.
      answer.erase(answer.begin() + reply.length / 2, answer.end() - 4);
    }
    std::optional<Bytes> junk;
    if (plan.stranger) {
      // Looks like the right answer but carries other data: taking it would show in the result.
      junk = *reply.answer;
      Corrupt(reply, *junk, reply.address);
    }
    auto send = [this, answer = std::move(answer), late = std::move(late), junk = std::move(junk),
                 plan, to]() {
      boost::system::error_code ignored;
      if (junk) m_otherSocket.send_to(asio::buffer(*junk), to, 0, ignored);
      if (late) m_socket.send_to(asio::buffer(*late), to, 0, ignored);
      udp::socket& from = plan.wrongPort ? m_otherSocket : m_socket;
      from.send_to(asio::buffer(answer), to, 0, ignored);
      if (plan.duplicate) from.send_to(asio::buffer(answer), to, 0, ignored);
      if (const auto copyAfter = m_options.faults.copyAfterMs) {
        HoldBack(std::chrono::milliseconds(*copyAfter), [&from, answer, to] {
          boost::system::error_code ignored;
          from.send_to(asio::buffer(answer), to, 0, ignored);
        });
      }
    };
    std::chrono::milliseconds wait(plan.jitterMs);
    if (Delayed(reply)) wait += std::chrono::milliseconds(m_options.faults.delayMs);
    if (plan.slow) wait += std::chrono::milliseconds(m_options.faults.slowMs);
    if (wait.count() == 0) {
      send();
      return;
    }
    HoldBack(wait, std::move(send));
  }

  // Sends after wait; held answers go out in the order of their due times (equal ones in the order
  // held).
  void HoldBack(std::chrono::milliseconds wait, std::function<void()> send) {
    HeldBack held{std::chrono::steady_clock::now() + wait, std::move(send)};
    const auto at = std::upper_bound(m_heldBack.begin(), m_heldBack.end(), held.due,
                                     [](std::chrono::steady_clock::time_point due,
                                        const HeldBack& queued) { return due < queued.due; });
    m_heldBack.insert(at, std::move(held));
  }

  // Replaces the data of an answer by 0xEE and sets its echo (where it has one) to echo.
  static void Corrupt(const Reply& reply, Bytes& answer, std::uint32_t echo) {
    const auto command = static_cast<ServiceCommand>(reply.command);
    if (command == ServiceCommand::Read) {
      std::fill(answer.begin(), answer.end() - 4, std::uint8_t{0xEE});
      orvel::protocol::PutU32(answer.data() + answer.size() - 4, echo);
    } else if (command == ServiceCommand::Write) {
      orvel::protocol::PutU32(answer.data() + 2, echo);
    } else if (command == ServiceCommand::Version) {
      std::fill(answer.begin(), answer.end(), std::uint8_t{0xEE});
    }
  }

  void SaveState() {
    try {
      m_state.Save(m_device, m_log);
    } catch (const std::exception& error) {
      std::fprintf(stderr, "orvel-sim: %s\n", error.what());
    }
  }

  // Answers still held back are not sent: the device is switched off.
  void Shutdown() {
    SaveState();
    boost::system::error_code ignored;
    m_socket.close(ignored);
    m_otherSocket.close(ignored);
  }

  const Options& m_options;
  std::uint32_t m_address;
  DeviceModel& m_device;
  const StateFolder& m_state;
  udp::socket m_socket;
  udp::socket m_otherSocket;
  FaultDice m_dice;
  RequestLog m_log;
  std::array<std::uint8_t, 65536> m_buffer{};
  udp::endpoint m_sender;
  std::uint64_t m_received = 0;  // every request that arrived at the socket
  std::uint64_t m_seen = 0;      // ... and that reached the device
  std::optional<Bytes> m_previousAnswer;
  bool m_versionDropped = false;
  std::chrono::steady_clock::time_point m_restartingUntil{};
  struct HeldBack {
    std::chrono::steady_clock::time_point due;
    std::function<void()> send;
  };
  std::deque<HeldBack> m_heldBack;
};

// The first device draws from --seed itself, so that a single device repeats what it always did;
// every further one from a seed of its own, the same in every run.
std::uint64_t SeedFor(std::uint64_t seed, std::size_t index) {
  return seed + index * 0x9E3779B97F4A7C15u;
}

// A single device keeps its state in the folder given; several each in a folder of their own.
std::filesystem::path StateDirFor(const Options& options, std::size_t index) {
  const std::filesystem::path dir(options.stateDir);
  if (options.addresses.size() == 1) return dir;
  return dir / orvel::FormatIPv4(options.addresses[index]);
}

// One device with everything it keeps. Held by pointer: the simulator refers to the others.
struct SiteDevice {
  SiteDevice(asio::io_context& io, const Options& options, std::size_t index)
      : model(options.device),
        state(StateDirFor(options, index)),
        simulator(io, options, options.addresses[index], SeedFor(options.faults.seed, index), model,
                  state) {}
  DeviceModel model;
  StateFolder state;
  Simulator simulator;
};

// Ends the devices' threads on every way out of the run: each saves its state and returns.
class DeviceThreads {
 public:
  explicit DeviceThreads(std::atomic<bool>& stopping) : m_stopping(stopping) {}
  ~DeviceThreads() {
    m_stopping = true;
    for (std::thread& thread : m_threads) thread.join();
  }
  DeviceThreads(const DeviceThreads&) = delete;
  DeviceThreads& operator=(const DeviceThreads&) = delete;

  template <typename Body>
  void Start(Body body) {
    m_threads.emplace_back(std::move(body));
  }

 private:
  std::atomic<bool>& m_stopping;
  std::vector<std::thread> m_threads;
};

// Binds every device, says "ready", and serves until SIGINT or SIGTERM (or a device fails).
int Serve(const Options& options) {
  // Measured and checked as orvelctl checks its inputs: only a plain file, and none longer than the
  // larger configuration area (a FIFO would block, /dev/zero never end).
  std::optional<Bytes> config;
  if (options.configFile) {
    const orvel::ReadStatus status = orvel::ReadWholeFile(
        orvel::PathFromArgument(*options.configFile), config.emplace(), kConfigSizeNew);
    if (status != orvel::ReadStatus::Ok) {
      std::fprintf(stderr, "orvel-sim: --config %s: %s\n",
                   orvel::TerminalText(*options.configFile).c_str(),
                   orvel::ReadFailureText(status, kConfigSizeNew).c_str());
      return 2;
    }
  }
  // The sockets' context is never run: were it run, every datagram would wake its thread as well
  // as the device's. The signals have a context of their own, which the main thread runs.
  asio::io_context sockets;
  asio::io_context io;
  std::atomic<bool> stopping{false};
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&stopping](const boost::system::error_code& error, int) {
    if (!error) stopping = true;
  });

  std::vector<std::unique_ptr<SiteDevice>> devices;
  std::uint16_t port = options.port;
  for (std::size_t index = 0; index < options.addresses.size(); ++index) {
    SiteDevice& device =
        *devices.emplace_back(std::make_unique<SiteDevice>(sockets, options, index));
    if (options.faults.corruptAddress) device.model.CorruptAt(*options.faults.corruptAddress);
    if (options.versionAfterUpdate) device.model.SetVersionAfterUpdate(*options.versionAfterUpdate);
    if (config && !device.model.LoadConfig(*config) && index == 0) {
      std::fprintf(stderr, "orvel-sim: %s holds %zu bytes, the configuration area %zu\n",
                   options.configFile->c_str(), config->size(), device.model.Config().size());
    }
    try {
      port = device.simulator.Start();
    } catch (const boost::system::system_error& failure) {
      throw std::runtime_error(orvel::FormatIPv4(options.addresses[index]) + ":" +
                               std::to_string(options.port) + ": " + failure.what());
    }
  }
  MarkReady(options.stateDir, port);

  std::atomic<bool> failed{false};
  {
    DeviceThreads threads(stopping);
    for (const auto& device : devices) {
      threads.Start([&stopping, &failed, &io, simulator = &device->simulator] {
        try {
          simulator->Run(stopping);
        } catch (const std::exception& failure) {
          std::fprintf(stderr, "orvel-sim: %s\n", failure.what());
          failed = true;
          io.stop();  // the other devices stop and save too
        }
      });
    }
    io.run();  // until the signal's handler has run, or a device failed
  }
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace orvel::sim

int main(int argc, char** argv) {
  using namespace orvel::sim;
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help" || std::string_view(argv[i]) == "-h") {
      std::fputs(Usage(), stdout);
      return 0;
    }
  }
  std::string error;
  const auto options = ParseOptions(argc, argv, error);
  if (!options) {
    std::fprintf(stderr, "orvel-sim: %s\n%s", error.c_str(), Usage());
    return 2;
  }
  try {
    return Serve(*options);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "orvel-sim: %s\n", failure.what());
    return 1;
  }
}
