// What orvelctl's trace and task log are made of: the fate of every datagram as the session and the
// link report it, the task's counters, and the two output formats.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/task_log.h"
#include "cli/trace.h"
#include "support/scripted_clock.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::DatagramFate;
using orvel::test::ScriptedLink;
using orvel::test::ScriptedSession;
using Bytes = std::vector<std::uint8_t>;

// Every report as "-> size" or "<- size fate".
class Recorder final : public orvel::ITrafficObserver {
 public:
  std::vector<std::string> lines;
  void Sent(std::uint32_t, std::uint16_t, const std::uint8_t*, std::size_t size) override {
    lines.push_back("-> " + std::to_string(size));
  }
  void Received(std::uint32_t, std::uint16_t, const std::uint8_t*, std::size_t, std::size_t size,
                DatagramFate fate) override {
    lines.push_back("<- " + std::to_string(size) + " " + orvel::DatagramFateName(fate));
  }
};

Bytes WithEcho(Bytes data, std::uint32_t address) {
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  return data;
}

TEST(TrafficReport, EveryDatagramWithWhatBecameOfIt) {
  ScriptedSession rig;
  Recorder recorder;
  rig.session.SetTrafficObserver(&recorder);
  rig.session.BeginTask();
  const std::uint32_t address = 0x147A0;
  rig.link->SetResponder([&](const ScriptedLink::Request& request, ScriptedLink& link) {
    if (request.index != 0) {
      link.Answer(WithEcho(Bytes(8, 1), address), 5);
      return;
    }
    link.Answer(WithEcho(Bytes(8, 2), address), 1, ScriptedLink::Sender::Stranger);
    link.Answer(WithEcho(Bytes(4, 3), address), 2);        // half the block
    link.Answer(WithEcho(Bytes(8, 4), address + 256), 3);  // another block's
    link.Answer(WithEcho(Bytes(60, 5), address), 4);       // more than the buffer takes
  });
  const auto lease = rig.session.GetLink();
  rig.link->Answer({'O', 'K'});  // waiting before the request: a Read answer cannot be so short
  Bytes out(8);
  rig.session.Exchange(40, *lease, address, ServiceCommand::Read, 8, nullptr, out.data());
  EXPECT_EQ(recorder.lines, (std::vector<std::string>{"-> 10", "<- 2 short", "<- 12 stranger",
                                                      "<- 8 short", "<- 12 wrong echo",
                                                      "<- 64 too long", "-> 10", "<- 12 taken"}));
  EXPECT_EQ(rig.session.m_stats.requests, 1u);
  EXPECT_EQ(rig.session.m_stats.resends, 1u);
  EXPECT_FALSE(rig.session.m_stats.deviceVersion.has_value());

  recorder.lines.clear();
  orvel::test::ScriptedDevice device(*rig.link);
  device.version = {0, 111};
  rig.link->Answer({0, 5});  // left over from an earlier query: dropped before the request
  DeviceVersion version;
  rig.session.QueryVersion(version);
  EXPECT_EQ(recorder.lines, (std::vector<std::string>{"<- 2 stale", "-> 10", "<- 2 taken"}));
  EXPECT_EQ(rig.session.m_stats.requests, 2u);
  EXPECT_EQ(rig.session.m_stats.deviceVersion->number, 111);

  rig.session.BeginTask();
  EXPECT_EQ(rig.session.m_stats.requests, 0u);
  EXPECT_EQ(rig.session.m_stats.resends, 0u);
  EXPECT_FALSE(rig.session.m_stats.deviceVersion.has_value());
}

TEST(TrafficReport, TraceLinesShowPeerRequestBytesAndFate) {
  Bytes request(266, 0x11);
  request[0] = 0xAA;
  orvel::cli::TraceRecord sent;
  sent.ms = 152;
  sent.sent = true;
  sent.peerAddress = 0x7F000002;
  sent.peerPort = 40000;
  sent.command = 0x01;
  sent.address = 0x180000;
  sent.length = 256;
  sent.data = request.data();
  sent.shown = sent.size = request.size();
  std::string shown = "AA";  // 32 of the 266 bytes
  for (int i = 1; i < 32; ++i) shown += " 11";
  EXPECT_EQ(
      orvel::cli::TraceLine(sent),
      "     152 ms -> 127.0.0.2:40000 Write 0x00180000 len 256, 266 bytes: " + shown + " ...");

  const Bytes answer = {'O', 'K', 0, 0, 0x18, 0};
  orvel::cli::TraceRecord received = sent;
  received.ms = 153;
  received.sent = false;
  received.data = answer.data();
  received.shown = received.size = answer.size();
  received.fate = DatagramFate::WrongEcho;
  EXPECT_EQ(orvel::cli::TraceLine(received),
            "     153 ms <- 127.0.0.2:40000 Write 0x00180000, 6 bytes: 4F 4B 00 00 18 00 "
            "(wrong echo)");
}

// Several requests out: an answer taken is named after the request it echoes, not the last one
// sent; one that echoes none is shown against the last one sent.
TEST(TrafficReport, TraceNamesTheRequestAnAnswerEchoes) {
  orvel::test::ScriptedClock clock;
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  orvel::cli::TraceWriter trace(out, clock, clock.NowMs());
  for (const std::uint32_t address : {0x180000u, 0x180100u}) {
    orvel::protocol::RequestBuffer request{};
    orvel::protocol::BuildHeader(request, ServiceCommand::Write, 256, address);
    trace.Sent(0x7F000002, 40000, request.data(), 266);
  }
  const Bytes first = {'O', 'K', 0, 0, 0x18, 0}, stranger = {'O', 'K', 0, 0, 0x19, 0};
  trace.Received(0x7F000002, 40000, first.data(), first.size(), first.size(), DatagramFate::Taken);
  trace.Received(0x7F000002, 40000, stranger.data(), stranger.size(), stranger.size(),
                 DatagramFate::WrongEcho);
  std::rewind(out);
  std::string text(4096, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  EXPECT_NE(text.find("<- 127.0.0.2:40000 Write 0x00180000, 6 bytes: 4F 4B 00 00 18 00 (taken)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("<- 127.0.0.2:40000 Write 0x00180100, 6 bytes: 4F 4B 00 00 19 00 (wrong "
                      "echo)"),
            std::string::npos)
      << text;
}

TEST(TrafficReport, TaskLogLineIsOneJsonObject) {
  orvel::cli::TaskLogEntry entry;
  entry.time = 86400 + 3661;  // 1970-01-02 01:01:01 UTC
  entry.tool = "orvelctl 1.0.0";
  entry.device = 0x7F000002;
  entry.port = 40000;
  entry.deviceVersion = DeviceVersion{0, 5};
  entry.task = "write-config";
  entry.file = "dir/\"odd\"\\name.bin";
  entry.requests = 177;
  entry.resends = 2;
  entry.error = "file-open";
  entry.message = "Ошибка.: line\none";
  entry.warnings = {{"config-unknown", "Ошибка.: Нет данных"}};
  EXPECT_EQ(orvel::cli::TaskLogLine(entry),
            "{\"time\":\"1970-01-02T01:01:01Z\",\"tool\":\"orvelctl 1.0.0\",\"device\":"
            "\"127.0.0.2\",\"port\":40000,\"deviceVersion\":\"0.05\",\"task\":\"write-config\","
            "\"file\":\"dir/\\\"odd\\\"\\\\name.bin\",\"sha256\":null,\"requests\":177,"
            "\"resends\":2,\"result\":\"failed\",\"error\":\"file-open\",\"message\":"
            "\"Ошибка.: line\\none\",\"warnings\":[{\"code\":\"config-unknown\",\"message\":"
            "\"Ошибка.: Нет данных\"}]}");
}

}  // namespace
