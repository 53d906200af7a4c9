// The exchange rules against a scripted device on virtual time: acceptance, resends, the overall
// limit, region transfers, the version query and the restart request.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/packets.h"
#include "support/scripted_device.h"
#include "support/scripted_session.h"

namespace {

using orvel::test::ScriptedDevice;
using orvel::test::ScriptedLink;
using orvel::test::ScriptedSession;
using Bytes = std::vector<std::uint8_t>;

const std::wstring kNoAnswerText =
    L"Нет ответа от прибора!\nПроверьте состояние тампера прибора - тампер должен быть открыт.";
const std::wstring kNoAnswerCaption = L"Ошибка обмена данными.";

Bytes WithEcho(Bytes data, std::uint32_t address) {
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
  return data;
}

Bytes Ok(std::uint32_t address) { return WithEcho({'O', 'K'}, address); }

// Runs one Exchange under a lease, as the transfers do.
void RunExchange(ScriptedSession& rig, std::uint32_t address, ServiceCommand command,
                 std::uint16_t length, const std::uint8_t* data, std::uint8_t* out) {
  const auto lease = rig.session.GetLink();
  rig.session.Exchange(rig.session.m_timeLimit, *lease, address, command, length, data, out);
}

TEST(Exchange, SendsTheDocumentedRequestBytes) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  Bytes out(256);
  RunExchange(rig, 0x147A0, ServiceCommand::Read, 256, nullptr, out.data());
  const Bytes data(116, 0x5A);
  RunExchange(rig, 0x1F5A0, ServiceCommand::Write, 116, data.data(), nullptr);
  const std::uint8_t three[] = {1, 2, 3};
  RunExchange(rig, 2, ServiceCommand::PartBlock, 3, three, nullptr);
  const std::uint8_t ff[] = {0xFF, 0xFF};
  RunExchange(rig, 0, ServiceCommand::PartBlock, 2, ff, nullptr);

  const auto& requests = rig.link->Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].bytes, (Bytes{0xAA, 0x55, 0x00, 0x00, 0x00, 0x01, 0xA0, 0x47, 0x01, 0x00}));
  Bytes write{0xAA, 0x55, 0x01, 0x00, 0x74, 0x00, 0xA0, 0xF5, 0x01, 0x00};
  write.insert(write.end(), data.begin(), data.end());
  EXPECT_EQ(requests[1].bytes, write);
  EXPECT_EQ(requests[2].bytes, (Bytes{0xAA, 0x55, 0x06, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00, 0x00,
                                      0x01, 0x02, 0x03, 0x06, 0x00}));
  EXPECT_EQ(requests[3].bytes, (Bytes{0xAA, 0x55, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0xFF, 0xFF, 0xFE, 0x01}));
  EXPECT_TRUE(rig.desktop.Boxes().empty());
}

TEST(Exchange, WrongEchoIsIgnoredAndTheSameRequestResentAfterTheWindow) {
  ScriptedSession rig;
  const std::uint32_t address = 0x148A0;
  rig.link->SetResponder([&](const ScriptedLink::Request& request, ScriptedLink& link) {
    const Bytes data(16, static_cast<std::uint8_t>(0x10 + request.index));
    link.Answer(WithEcho(data, request.index == 0 ? address + 256 : address), 5);
  });
  Bytes out(16, 0);
  const std::int64_t t0 = rig.clock.NowMs();
  RunExchange(rig, address, ServiceCommand::Read, 16, nullptr, out.data());

  const auto& requests = rig.link->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].bytes, requests[0].bytes);
  EXPECT_EQ(requests[0].timeMs, t0);
  const std::int64_t gap = requests[1].timeMs - requests[0].timeMs;
  EXPECT_GT(gap, 1500);
  EXPECT_LE(gap, 1504);
  EXPECT_EQ(out, Bytes(16, 0x11));  // the second answer, not the wrongly echoed one
  EXPECT_EQ(rig.clock.NowMs(), requests[1].timeMs + 5);
}

TEST(Exchange, WriteNeedsOkAndTheEchoedAddress) {
  ScriptedSession rig;
  const std::uint32_t address = 0x1F5A0;
  rig.link->SetResponder([&](const ScriptedLink::Request&, ScriptedLink& link) {
    link.Answer(Ok(address + 1), 1);                // right word, wrong address
    link.Answer(WithEcho({'N', 'O'}, address), 2);  // right address, wrong word
    link.Answer(Ok(address), 3);
  });
  const Bytes data(8, 1);
  RunExchange(rig, address, ServiceCommand::Write, 8, data.data(), nullptr);
  EXPECT_EQ(rig.link->Requests().size(), 1u);
  EXPECT_EQ(rig.clock.ElapsedMs(), 3);
  EXPECT_EQ(rig.link->Queued(), 0u);
}

TEST(Exchange, AnswerToTheThirdSendIsAcceptedSilently) {
  ScriptedSession rig;
  rig.link->SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
    if (request.index == 2) link.Answer({'O', 'K'}, 40);
  });
  const std::uint8_t data[] = {0x01};
  RunExchange(rig, 0, ServiceCommand::ProgramStart, 1, data, nullptr);
  ASSERT_EQ(rig.link->Requests().size(), 3u);
  EXPECT_EQ(rig.link->Requests()[2].bytes, rig.link->Requests()[0].bytes);
  EXPECT_TRUE(rig.desktop.Boxes().empty());
}

TEST(Exchange, SilentDeviceIsAskedEveryWindowThenGivesTheNoAnswerBox) {
  ScriptedSession rig;
  const std::int64_t t0 = rig.clock.NowMs();
  Bytes out(256);
  try {
    RunExchange(rig, 0x147A0, ServiceCommand::Read, 256, nullptr, out.data());
    FAIL() << "a silent device must end in the no-answer error";
  } catch (const CMBoxExeption& box) {
    EXPECT_EQ(box.Text(), kNoAnswerText);
    EXPECT_EQ(box.Caption(), kNoAnswerCaption);
    EXPECT_EQ(box.Style(), 0x30u);
  }
  const auto& requests = rig.link->Requests();
  // Windows close a little after 1.5 s (the 2-ms poll); the error comes at the end of the first
  // window that closes more than 40 s after the start.
  ASSERT_EQ(requests.size(), 27u);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    const std::int64_t gap = requests[i].timeMs - requests[i - 1].timeMs;
    EXPECT_GT(gap, 1500) << i;
    EXPECT_LE(gap, 1504) << i;
    EXPECT_EQ(requests[i].bytes, requests[0].bytes);
  }
  const std::int64_t end = rig.clock.NowMs() - t0;
  EXPECT_GT(end, 40000);
  EXPECT_LE(end - (requests.back().timeMs - t0), 1504);
  EXPECT_LE(requests.back().timeMs - t0, 40000);
  // The exchange itself shows nothing and never sleeps blind: it only waits on the link.
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  EXPECT_TRUE(rig.clock.Sleeps().empty());
  EXPECT_FALSE(rig.link->IsOpen());
}

TEST(Exchange, TimeLimitIsReadAnewAtEachDecision) {
  ScriptedSession rig;
  rig.link->SetResponder([&](const ScriptedLink::Request& request, ScriptedLink&) {
    if (request.index == 1) rig.session.m_timeLimit = 2;
  });
  const std::int64_t t0 = rig.clock.NowMs();
  EXPECT_THROW(RunExchange(rig, 0, ServiceCommand::Restart, 0, nullptr, nullptr), CMBoxExeption);
  EXPECT_EQ(rig.link->Requests().size(), 2u);
  EXPECT_LT(rig.clock.NowMs() - t0, 3100);
}

TEST(Exchange, AnswerIsTakenTheMomentItArrives) {
  ScriptedSession rig;
  rig.link->SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
    link.Answer(Ok(request.Address()), 37);
  });
  const Bytes data(4, 7);
  RunExchange(rig, 0x200, ServiceCommand::Write, 4, data.data(), nullptr);
  EXPECT_EQ(rig.clock.ElapsedMs(), 37);
}

TEST(Exchange, StrangersAndOtherPortsAreIgnored) {
  ScriptedSession rig;
  const std::uint32_t address = 0x300;
  rig.link->SetResponder([&](const ScriptedLink::Request&, ScriptedLink& link) {
    link.Answer(WithEcho(Bytes(8, 0xBB), address), 1, ScriptedLink::Sender::Stranger);
    link.Answer(WithEcho(Bytes(8, 0xCC), address), 2, ScriptedLink::Sender::WrongPort);
    link.Answer(WithEcho(Bytes(8, 0xDD), address), 100);
  });
  Bytes out(8, 0);
  RunExchange(rig, address, ServiceCommand::Read, 8, nullptr, out.data());
  EXPECT_EQ(out, Bytes(8, 0xDD));
  EXPECT_EQ(rig.link->Requests().size(), 1u);
  EXPECT_EQ(rig.clock.ElapsedMs(), 100);
}

TEST(Exchange, ReadAnswerShorterThanTheEchoIsNeverAccepted) {
  ScriptedSession rig;
  // Address 0: a short answer must not be matched against the cleared bytes of the buffer.
  rig.link->SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
    if (request.index == 0) link.Answer({0, 0, 0});
    if (request.index == 1) link.Answer(WithEcho({1, 2, 3, 4}, 0));
  });
  Bytes out(4, 0xEE);
  RunExchange(rig, 0, ServiceCommand::Read, 4, nullptr, out.data());
  EXPECT_EQ(rig.link->Requests().size(), 2u);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4}));
}

TEST(Exchange, ReadAnswerNeverWritesPastItsBlock) {
  ScriptedSession rig;
  rig.link->SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
    link.Answer(WithEcho({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, request.Address()));  // 10 for 4 asked
  });
  Bytes buffer(12, 0xEE);
  RunExchange(rig, 0x40, ServiceCommand::Read, 4, nullptr, buffer.data() + 4);
  EXPECT_EQ(buffer, (Bytes{0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE}));
}

// A Read answer with less data than asked for would leave the rest of the block as it was (zero
// in a fresh buffer) and the update would later write that into the device.
TEST(Exchange, ShortReadAnswerIsIgnoredAndTheRequestResent) {
  ScriptedSession rig;
  rig.link->SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
    link.Answer(
        WithEcho(request.index == 0 ? Bytes{1, 2} : Bytes{1, 2, 3, 4, 5, 6}, request.Address()));
  });
  Bytes out(6, 0xEE);
  RunExchange(rig, 0x40, ServiceCommand::Read, 6, nullptr, out.data());
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(rig.link->Requests().size(), 2u);
}

TEST(Exchange, OverlongRequestIsRefusedBeforeAnythingIsSent) {
  ScriptedSession rig;
  const Bytes data(300, 0);
  EXPECT_ANY_THROW(RunExchange(rig, 0, ServiceCommand::Write, 257, data.data(), nullptr));
  EXPECT_ANY_THROW(RunExchange(rig, 0, ServiceCommand::PartBlock, 255, data.data(), nullptr));
  EXPECT_TRUE(rig.link->Requests().empty());
}

// Answers that carry no echo ("OK" alone) are tied to their request by time only: whatever waited
// before the request went out, and the late answers to its earlier sends, must not pass for it.
TEST(StaleAnswers, WhatArrivedBeforeTheRequestIsNeverItsAnswer) {
  for (const auto command :
       {ServiceCommand::ProgramStart, ServiceCommand::PartDescriptor, ServiceCommand::PartBlock}) {
    ScriptedSession rig;
    rig.link->SetResponder([](const ScriptedLink::Request&, ScriptedLink& link) {
      link.Answer({'O', 'K'}, 120);
    });
    const auto lease = rig.session.GetLink();
    rig.link->Answer({'O', 'K'});  // left over from an earlier request
    const std::uint8_t data[20] = {};
    rig.session.Exchange(rig.session.m_timeLimit, *lease, 0, command, 20, data, nullptr);
    EXPECT_EQ(rig.clock.ElapsedMs(), 120) << int(command);
    EXPECT_EQ(rig.link->Queued(), 0u);
  }
  // The restart request alike: the device never answered it.
  ScriptedSession rig;
  const auto lease = rig.session.GetLink();
  rig.link->Answer({'O', 'K'});
  EXPECT_FALSE(rig.session.RestartDevice());
}

// "OK" and the address of a Write of this task is a late answer to that Write, whenever it comes:
// never the answer to a request whose own answer carries no address.
TEST(StaleAnswers, LateWriteAnswerIsNeverTheAnswerToAnotherRequest) {
  for (const auto command : {ServiceCommand::ProgramStart, ServiceCommand::PartDescriptor,
                             ServiceCommand::PartBlock, ServiceCommand::Restart}) {
    ScriptedSession rig;
    rig.session.BeginTask();
    const auto lease = rig.session.GetLink();
    rig.link->SetResponder([](const ScriptedLink::Request& request, ScriptedLink& link) {
      if (request.Command() == 0x01) link.Answer(Ok(request.Address()));
    });
    const Bytes data(20, 1);
    rig.session.Exchange(rig.session.m_timeLimit, *lease, 0x1F5A0, ServiceCommand::Write, 4,
                         data.data(), nullptr);
    // The copy of the Write's answer comes after the next request went out; its own answer later.
    rig.link->SetResponder([](const ScriptedLink::Request&, ScriptedLink& link) {
      link.Answer(Ok(0x1F5A0), 3);
      link.Answer({'O', 'K'}, 120);
    });
    const std::int64_t sent = rig.clock.NowMs();
    if (command == ServiceCommand::Restart) {
      EXPECT_TRUE(rig.session.RestartDevice());
    } else {
      rig.session.Exchange(rig.session.m_timeLimit, *lease, 0, command,
                           command == ServiceCommand::ProgramStart ? 1 : 20, data.data(), nullptr);
    }
    EXPECT_EQ(rig.clock.NowMs() - sent, 120) << int(command);
    EXPECT_EQ(rig.link->Requests().size(), 2u) << int(command);
  }
}

TEST(StaleAnswers, ResentRequestTakesAnAnswerPerSendBeforeTheNextRequest) {
  // The descriptor is answered 1.6 s after each send, so it goes twice; the first send of the block
  // is lost. Taking the descriptor's second answer for the block's would leave the part without it.
  ScriptedSession rig;
  std::vector<Bytes> stored;
  int blockSends = 0;
  rig.link->SetResponder([&](const ScriptedLink::Request& request, ScriptedLink& link) {
    if (request.Command() == 0x05) link.Answer({'O', 'K'}, 1600);
    if (request.Command() == 0x06 && ++blockSends > 1) {
      stored.push_back(request.Data());
      link.Answer({'O', 'K'});
    }
  });
  const Bytes part = {1, 2, 3};
  EXPECT_EQ(rig.session.SendUpdatePart(part, 0, 1), 3);
  EXPECT_EQ(stored, std::vector<Bytes>{part});
  std::vector<int> commands;
  for (const auto& request : rig.link->Requests()) commands.push_back(request.Command());
  EXPECT_EQ(commands, (std::vector<int>{0x05, 0x05, 0x06, 0x06}));
  EXPECT_TRUE(rig.desktop.Boxes().empty());
}

// While a resent descriptor's owed answers are taken, a late Write answer is owed to none of its
// sends: counted, it would end the wait before the real one, which the lost block then takes.
TEST(StaleAnswers, LateWriteAnswerIsNotOneOfTheAnswersOwedToAResentRequest) {
  ScriptedSession rig;
  rig.session.BeginTask();
  std::vector<Bytes> stored;
  int descriptorSends = 0, blockSends = 0;
  rig.link->SetResponder([&](const ScriptedLink::Request& request, ScriptedLink& link) {
    if (request.Command() == 0x01) link.Answer(Ok(request.Address()));
    if (request.Command() == 0x05 && ++descriptorSends == 1) link.Answer({'O', 'K'}, 1600);
    if (request.Command() == 0x05 && descriptorSends == 2) {
      link.Answer({'O', 'K'}, 50);
      link.Answer(Ok(0x1F5A0), 58);
    }
    if (request.Command() == 0x06 && ++blockSends > 1) {
      stored.push_back(request.Data());
      link.Answer({'O', 'K'});
    }
  });
  const Bytes data(4, 1);
  RunExchange(rig, 0x1F5A0, ServiceCommand::Write, 4, data.data(), nullptr);
  const Bytes part = {1, 2, 3};
  EXPECT_EQ(rig.session.SendUpdatePart(part, 0, 1), 3);
  EXPECT_EQ(stored, std::vector<Bytes>{part});
}

TEST(StaleAnswers, WaitForLateAnswersIsBoundedAndCostsNothingWithoutAResend) {
  struct Case {
    unsigned answerAtSend;  // which send is answered (0 = every send)
    unsigned delayMs;
    std::int64_t elapsedMs;  // when the exchange returns
  };
  const Case cases[] = {
      {0, 37, 37},  // one send, one answer: back at once
      // Resent at 1.5 s; the only answer (to the second send) at 1.53 s; no second answer comes:
      // two windows (3 s) later the exchange gives up waiting for it.
      {2, 30, 1502 + 30 + 3002},
  };
  for (const Case& c : cases) {
    ScriptedSession rig;
    unsigned sends = 0;
    rig.link->SetResponder([&](const ScriptedLink::Request&, ScriptedLink& link) {
      ++sends;
      if (c.answerAtSend == 0 || sends == c.answerAtSend) link.Answer({'O', 'K'}, c.delayMs);
    });
    const std::uint8_t data[] = {1};
    RunExchange(rig, 0, ServiceCommand::ProgramStart, 1, data, nullptr);
    EXPECT_NEAR(rig.clock.ElapsedMs(), c.elapsedMs, 4) << c.answerAtSend;
  }
}

TEST(Region, ConfigurationReadGoesInAscendingBlocksWithProgressToHundred) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  Bytes config(44660);
  for (std::size_t i = 0; i < config.size(); ++i) config[i] = static_cast<std::uint8_t>(i % 251);
  device.Store(0x147A0, config);

  Bytes out(config.size(), 0);
  {
    const auto lease = rig.session.GetLink();
    rig.session.ReadRegion(0x147A0, static_cast<int>(out.size()), out.data(), false);
  }
  EXPECT_EQ(out, config);
  const auto& requests = rig.link->Requests();
  ASSERT_EQ(requests.size(), 175u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Command(), 0x00);
    EXPECT_EQ(requests[i].Address(), 0x147A0 + 256 * i);
    EXPECT_EQ(requests[i].Length(), i + 1 < requests.size() ? 256 : 116);
  }
  const auto positions = rig.desktop.ProgressPositions();
  ASSERT_EQ(positions.size(), 175u);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
  EXPECT_EQ(positions.back(), 100);
  EXPECT_EQ(rig.link->InitCalls(), 1);  // one socket for the whole region
}

TEST(Region, WriteOf44916BytesEndsAtHundredAndSuppressionLeavesTheBarAlone) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  Bytes config(44916, 0x3C);
  const auto lease = rig.session.GetLink();
  rig.session.WriteRegion(0x147A0, config.data(), static_cast<int>(config.size()), false);
  EXPECT_EQ(rig.link->Requests().size(), 176u);
  EXPECT_EQ(rig.link->Requests().back().Length(), 116);
  EXPECT_EQ(rig.desktop.LastProgressPos(), 100);
  EXPECT_EQ(device.Bytes(0x147A0, config.size()), config);

  rig.desktop.ClearRecords();
  rig.session.WriteRegion(0x147A0, config.data(), static_cast<int>(config.size()), true);
  EXPECT_EQ(rig.link->Requests().size(), 352u);
  EXPECT_TRUE(rig.desktop.ProgressCalls().empty());
}

TEST(Region, SizeZeroSendsAndReportsNothing) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  const auto lease = rig.session.GetLink();
  rig.session.ReadRegion(0x147A0, 0, nullptr, false);
  rig.session.WriteRegion(0x147A0, nullptr, 0, false);
  EXPECT_TRUE(rig.link->Requests().empty());
  EXPECT_TRUE(rig.desktop.ProgressCalls().empty());
}

TEST(Version, SilentDeviceIsAskedThreeTimesThenGivesZeroWithoutAMessage) {
  ScriptedSession rig;
  DeviceVersion version{7, 7};
  rig.session.QueryVersion(version);
  EXPECT_EQ(version.kind, 0);
  EXPECT_EQ(version.number, 0);
  const auto& requests = rig.link->Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (std::size_t i = 1; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].bytes, requests[0].bytes);
    EXPECT_NEAR(requests[i].timeMs - requests[i - 1].timeMs, 1502, 2);
  }
  EXPECT_NEAR(rig.clock.ElapsedMs(), 3 * 1502, 6);
  EXPECT_TRUE(rig.desktop.Boxes().empty());
  EXPECT_FALSE(rig.link->IsOpen());
}

// One lost datagram must not turn a 1.11 device into 0.00 (and its configuration into the older
// size).
TEST(Version, LostAnswerIsAskedForAgain) {
  struct Case {
    std::size_t answeredSend;  // 0 = the first send
    unsigned delayMs;
    std::size_t requests;
  };
  const Case cases[] = {
      {1, 10, 2},    // the first answer lost
      {2, 10, 3},    // the first two lost
      {0, 1700, 2},  // the answer to the first send, after the second went out: it counts
  };
  for (const Case& c : cases) {
    ScriptedSession rig;
    rig.link->SetResponder([&](const ScriptedLink::Request& request, ScriptedLink& link) {
      if (request.index == c.answeredSend) link.Answer({1, 111}, c.delayMs);
    });
    DeviceVersion version;
    rig.session.QueryVersion(version);
    EXPECT_EQ(version.number, 111) << c.answeredSend;
    EXPECT_EQ(rig.link->Requests().size(), c.requests) << c.answeredSend;
  }
}

TEST(Version, TwoByteAnswerReturnsAtOnce) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  device.version = {0x03, 205};
  DeviceVersion version;
  rig.session.QueryVersion(version);
  EXPECT_EQ(rig.link->Requests().at(0).bytes, (Bytes{0xAA, 0x55, 0x0E, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(version.kind, 0x03);
  EXPECT_EQ(version.Major(), 2);
  EXPECT_EQ(version.Minor(), 5);
  EXPECT_EQ(rig.clock.ElapsedMs(), 0);
}

TEST(Version, AnswerFromAnotherSenderIsNotTakenForTheDevice) {
  ScriptedSession rig;
  rig.link->SetResponder([](const ScriptedLink::Request&, ScriptedLink& link) {
    link.Answer({9, 99}, 10, ScriptedLink::Sender::WrongPort);
    link.Answer({8, 88}, 20, ScriptedLink::Sender::Stranger);
  });
  DeviceVersion version;
  rig.session.QueryVersion(version);
  EXPECT_EQ(version.kind, 0);
  EXPECT_EQ(version.number, 0);
}

TEST(Version, FailedLinkSetUpThrowsBeforeAnythingIsSent) {
  ScriptedSession rig;
  rig.link->FailInit(true);
  DeviceVersion version;
  try {
    rig.session.QueryVersion(version);
    FAIL() << "GetLink must throw";
  } catch (const CMBoxExeption& box) {
    EXPECT_EQ(box.Text(), L"Ошибка инициализации подключения.");
    EXPECT_EQ(box.Caption(), L"Ошибка.");
    EXPECT_EQ(box.Style(), 0x30u);
  }
  EXPECT_TRUE(rig.link->Requests().empty());
}

TEST(Restart, TrueAtOnceOnOk) {
  ScriptedSession rig;
  ScriptedDevice device(*rig.link);
  EXPECT_TRUE(rig.session.RestartDevice());
  EXPECT_EQ(rig.link->Requests().at(0).bytes, (Bytes{0xAA, 0x55, 0x0C, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(rig.clock.ElapsedMs(), 0);
  EXPECT_EQ(device.restarts, 1);
}

// The restart is acknowledged by a bare "OK" only: anything longer is some other answer (a late one
// to a Write, of this task or an earlier one), and the device has to be restarted by hand.
TEST(Restart, OnlyATwoByteOkAcknowledgesIt) {
  struct Case {
    Bytes answer;
    bool newTask;  // BeginTask between the write and the restart
    bool acknowledged;
  };
  const Case cases[] = {
      {Ok(0x1F5A0), false, false},  // a late answer to the write
      {Ok(0x1F5A0), true, false},   // ... to a write of an earlier task
      {Ok(0x1F6A0), false, false},  // "OK" and an address nobody wrote to
      {{'O', 'K', 0x12, 0x34}, false, false},
      {{'O', 'K'}, false, true},
  };
  for (const Case& c : cases) {
    ScriptedSession rig;
    rig.session.BeginTask();
    ScriptedDevice device(*rig.link);
    const Bytes data(4, 1);
    RunExchange(rig, 0x1F5A0, ServiceCommand::Write, 4, data.data(), nullptr);
    if (c.newTask) rig.session.BeginTask();
    rig.link->SetResponder(
        [&](const ScriptedLink::Request&, ScriptedLink& link) { link.Answer(c.answer, 5); });
    EXPECT_EQ(rig.session.RestartDevice(), c.acknowledged) << c.answer.size() << c.newTask;
  }
}

TEST(Restart, FalseAfterTheWindowOfSilenceOrOtherAnswers) {
  {
    ScriptedSession rig;
    EXPECT_FALSE(rig.session.RestartDevice());
    EXPECT_GT(rig.clock.ElapsedMs(), 1500);
    EXPECT_LE(rig.clock.ElapsedMs(), 1504);
  }
  {
    ScriptedSession rig;
    rig.link->SetResponder([](const ScriptedLink::Request&, ScriptedLink& link) {
      link.Answer({'N', 'O'}, 10);
      link.Answer({'O', 'K'}, 20, ScriptedLink::Sender::WrongPort);
    });
    EXPECT_FALSE(rig.session.RestartDevice());
    EXPECT_EQ(rig.link->Requests().size(), 1u);
    EXPECT_GT(rig.clock.ElapsedMs(), 1500);
    EXPECT_TRUE(rig.desktop.Boxes().empty());
  }
}

}  // namespace
