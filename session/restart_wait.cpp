// The wait after the restart request of the update: a fixed one, as the dialog waits, or, for
// orvelctl, one that ends as soon as the device has been seen going down and coming back
// (protocol/restart_poll.h has the rules).

#include <algorithm>
#include <cstdio>
#include <string>

#include "session/device_session.h"

namespace {

using namespace orvel::protocol;
namespace restart = orvel::restart;

std::string Seconds(std::int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000.0);
  return text;
}

}  // namespace

bool CDeviceSession::WaitAfterRestart(bool acknowledged, restart::Probe probe) {
  const unsigned seconds = m_restartWaitSteps;
  if (!m_update.restartPoll || !acknowledged) {
    // The device is silent while it restarts; nothing is asked of it until the wait is over.
    for (unsigned second = 0; second < seconds; ++second) {
      StopPoint();
      Clock().SleepMs(1000);
      m_progress.Step(0);
    }
    if (m_update.restartPoll) {
      ReportNote("restart wait: the restart was not acknowledged, waited " +
                 std::to_string(seconds) + " s");
    }
    return false;
  }

  const Lease lease = GetLink();
  orvel::ILink& link = *lease;
  const std::int64_t start = Clock().NowMs();
  const std::int64_t end = start + std::int64_t{seconds} * 1000;
  unsigned stepsDone = 0;
  // One step of the bar for every whole second of the wait gone, the status saying how long (short:
  // orvelctl's live line shows 18 characters of it).
  const auto catchUp = [&](std::int64_t now) {
    bool moved = false;
    while (stepsDone < seconds && now - start >= std::int64_t{stepsDone + 1} * 1000) {
      ++stepsDone;
      m_progress.Step(0);
      moved = true;
    }
    if (moved) {
      Desktop().SetStatusText(m_hStatus,
                              L"Перезагрузка прибора... " + std::to_wstring(stepsDone) + L" с");
    }
  };

  restart::RestartWatch watch(probe);
  RequestBuffer request{};
  AnswerBuffer answer{};
  unsigned asks = 0;
  for (std::int64_t askAt = start; askAt < end && !watch.Back(); ++asks) {
    StopPoint();
    std::int64_t now = Clock().NowMs();
    if (now < askAt) Clock().SleepMs(static_cast<unsigned>(askAt - now));
    catchUp(Clock().NowMs());
    // An answer to an earlier ask that comes only now says nothing about this one.
    link.DiscardQueued();
    const restart::Probe asked = watch.NextProbe();
    const std::uint32_t address = restart::ProbeAddress(m_memoryMap.configAddress, asks);
    if (asked == restart::Probe::Version) {
      BuildHeader(request, ServiceCommand::Version, 0, 0);
      link.Send(request.data(),
                static_cast<std::uint16_t>(RequestLength(ServiceCommand::Version, 0)));
    } else {
      BuildHeader(request, ServiceCommand::Read, restart::kReadLength, address);
      link.Send(request.data(), static_cast<std::uint16_t>(
                                    RequestLength(ServiceCommand::Read, restart::kReadLength)));
    }
    ++m_stats.requests;

    const std::int64_t windowEnd = std::min(askAt + restart::kAskEveryMs, end);
    bool answered = false;
    while (!answered) {
      const unsigned n =
          link.Available() >= 2
              ? link.Receive(answer.data(), static_cast<std::uint16_t>(answer.size()))
              : 0;
      if (n > 0) {
        const std::size_t shown = std::min<std::size_t>(n, answer.size());
        const orvel::DatagramFate fate =
            restart::JudgeProbeAnswer(asked, address, answer.data(), shown);
        ReportAnswer(answer.data(), shown, n, fate);
        answered = fate == orvel::DatagramFate::Taken;
        continue;
      }
      now = Clock().NowMs();
      if (now >= windowEnd) break;
      link.WaitReadable(static_cast<unsigned>(windowEnd - now));
    }
    watch.Asked(asked, answered);
    askAt = watch.AskAtOnce() ? Clock().NowMs() : askAt + restart::kAskEveryMs;
  }

  const std::int64_t waited = Clock().NowMs() - start;
  if (watch.Back()) {
    // The rest of the wait is not needed: its steps at once.
    while (stepsDone < seconds) {
      ++stepsDone;
      m_progress.Step(0);
    }
    Desktop().SetStatusText(m_hStatus,
                            L"На связи через " + std::to_wstring((waited + 500) / 1000) + L" с");
    ReportNote("restart wait: the device answered again after " + Seconds(waited) + " (" +
               std::to_string(asks) + " asks)");
    return true;
  }
  // The whole wait is kept: a device that was not seen restarting may still be doing it.
  // A run that may be told to stop sleeps in pieces, to hear it.
  const std::int64_t piece = m_stopNow != nullptr ? 200 : end;
  for (std::int64_t now = Clock().NowMs(); now < end; now = Clock().NowMs()) {
    StopPoint();
    Clock().SleepMs(static_cast<unsigned>(std::min(end - now, piece)));
  }
  catchUp(end);
  ReportNote(std::string("restart wait: ") +
             (watch.WentSilent() ? "no answer" : "the device never went silent") + " within " +
             std::to_string(seconds) + " s");
  return false;
}
