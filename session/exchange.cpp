// The exchange loop and the small operations built on it. Every time-out is measured on the clock
// seam; an idle poll waits for the link to become readable for at most kPollMs instead of sleeping
// blind. Read and Write requests, whose answers echo their address, go through the transfer engine
// (transfer_engine.cpp); the loop here serves the requests answered by a bare "OK".

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "protocol/exchange_rules.h"
#include "session/device_session.h"
#include "session/transfer_engine.h"

namespace {

using namespace orvel::protocol;
using orvel::exchange::HasEcho;
using orvel::exchange::IsOk;

constexpr double kWindowSeconds = kWindowMs / 1000.0;
// How often the version is asked for before a silent device counts as 0.00.
constexpr unsigned kVersionRequests = 3;

double Seconds(std::int64_t fromMs, std::int64_t toMs) {
  return static_cast<double>(toMs - fromMs) / 1000.0;
}

// Polls once: the size of a datagram taken from the device, 0 when none was waiting.
unsigned Poll(orvel::ILink& link, std::uint8_t* buffer, std::uint16_t length) {
  return link.Available() >= 2 ? link.Receive(buffer, length) : 0;
}

// A region in blocks of 256 bytes (the last may be shorter) at ascending addresses, Read into out
// or Write from data; the bar follows the bytes answered.
void TransferRegion(CDeviceSession& session, ServiceCommand command, std::uint32_t address,
                    int size, const std::uint8_t* data, std::uint8_t* out,
                    const bool& suppressProgress) {
  TransferEngine transfer(session, session.Link(), command, session.m_timeLimit);
  transfer.OnAnswer([&](std::size_t, std::size_t bytes) {
    if (!suppressProgress) {
      session.m_progress.SetPos(orvel::exchange::RegionProgress(static_cast<int>(bytes), size));
    }
  });
  for (int done = 0; done < size;) {
    const int n = std::min(size - done, static_cast<int>(kMaxData));
    transfer.Submit(address + static_cast<std::uint32_t>(done), static_cast<std::uint16_t>(n),
                    data != nullptr ? data + done : nullptr, out != nullptr ? out + done : nullptr);
    done += n;
  }
  transfer.Barrier();
}

}  // namespace

void CDeviceSession::SendRequest(orvel::ILink& link, ServiceCommand command, std::uint16_t length,
                                 const std::uint8_t* data, RequestBuffer& request) {
  if (command != ServiceCommand::Read && length > 0) {
    std::memcpy(&request[kHeaderSize], data, length);
  }
  // A request that did not go out simply goes unanswered and is sent again.
  link.Send(request.data(), static_cast<std::uint16_t>(RequestLength(command, length)));
}

void CDeviceSession::Exchange(const std::uint16_t& timeLimit, orvel::ILink& link,
                              std::uint32_t address, ServiceCommand command, std::uint16_t length,
                              const std::uint8_t* data, std::uint8_t* out) {
  const std::size_t maxData = command == ServiceCommand::PartBlock ? kPartBlockData : kMaxData;
  if (length > maxData) throw std::length_error("request data longer than a block");
  if (HasEcho(command)) {
    TransferEngine transfer(*this, link, command, timeLimit);
    transfer.Submit(address, length, data, out);
    transfer.Barrier();
    return;
  }

  const std::int64_t t0 = m_clock.NowMs();
  RequestBuffer request{};
  BuildHeader(request, command, length, address);
  if (command == ServiceCommand::PartBlock) {
    PutU16(&request[kHeaderSize + length], BlockSum(data, length));
  }
  // What waits on the link before a request goes out cannot be its answer; a bare "OK" would pass
  // for any, so it is dropped first (not between the resends below: a late answer to an earlier
  // send of this request is its answer).
  link.DiscardQueued();
  SendRequest(link, command, length, data, request);
  ++m_stats.requests;
  CountQueued(length);
  unsigned sends = 1;

  AnswerBuffer answer{};
  const auto answerLength = static_cast<std::uint16_t>(length + 32);
  for (;;) {
    StopPoint();
    const std::int64_t tw = m_clock.NowMs();
    // An answer cannot be there the moment its request has gone: wait for it before the first
    // look, which spares a transfer two calls into the system per block.
    link.WaitReadable(kPollMs);
    for (;;) {
      const unsigned n = Poll(link, answer.data(), answerLength);
      const double e = Seconds(tw, m_clock.NowMs());
      if (n == 0) {
        if (e > kWindowSeconds) break;
        StopPoint();
        link.WaitReadable(kPollMs);
        continue;
      }
      orvel::DatagramFate fate =
          orvel::exchange::JudgeAnswer(command, address, length, answer.data(), n, answerLength);
      // An "OK" without an echo is tied to its request by time alone; a late answer to a Write
      // of this task shows by its address that it is not this one's.
      if (fate == orvel::DatagramFate::Taken && !HasEcho(command) &&
          IsLateWriteAnswer(answer.data(), std::min<std::size_t>(n, answerLength))) {
        fate = orvel::DatagramFate::Stale;
      }
      ReportAnswer(answer.data(), std::min<std::size_t>(n, answerLength), n, fate);
      if (fate == orvel::DatagramFate::Taken) {
        m_stats.bytes += length;
        StatsChanged();
        if (sends > 1) TakeLateAnswers(link, sends, answerLength);
        return;
      }
      if (e > kWindowSeconds) break;
    }
    if (Seconds(t0, m_clock.NowMs()) > timeLimit) throw NoAnswerBox();
    SendRequest(link, command, length, data, request);
    ++m_stats.resends;
    ++sends;
    StatsChanged();
  }
}

void CDeviceSession::TakeLateAnswers(orvel::ILink& link, unsigned sends,
                                     std::uint16_t answerLength) {
  AnswerBuffer answer{};
  const std::int64_t start = m_clock.NowMs();
  for (unsigned answers = 1; answers < sends;) {
    const unsigned n = Poll(link, answer.data(), answerLength);
    if (n > 0) {
      // A late Write answer is owed to no send of this request.
      const bool owed = IsOk(answer.data(), n) &&
                        !IsLateWriteAnswer(answer.data(), std::min<std::size_t>(n, answerLength));
      ReportAnswer(
          answer.data(), std::min<std::size_t>(n, answerLength), n,
          IsOk(answer.data(), n) ? orvel::DatagramFate::Stale : orvel::DatagramFate::Ignored);
      if (owed) ++answers;
    }
    if (Seconds(start, m_clock.NowMs()) > 2 * kWindowSeconds) return;
    if (n == 0) link.WaitReadable(kPollMs);
  }
}

void CDeviceSession::ReadRegion(std::uint32_t address, int size, std::uint8_t* out,
                                const bool& suppressProgress) {
  TransferRegion(*this, ServiceCommand::Read, address, size, nullptr, out, suppressProgress);
}

void CDeviceSession::WriteRegion(std::uint32_t address, const std::uint8_t* data, int size,
                                 const bool& suppressProgress) {
  TransferRegion(*this, ServiceCommand::Write, address, size, data, nullptr, suppressProgress);
}

void CDeviceSession::QueryVersion(DeviceVersion& out) {
  const Lease lease = GetLink();
  orvel::ILink& link = *lease;
  static constexpr std::uint8_t kRequest[kHeaderSize] = {kMagic0, kMagic1, 0x0E, 0, 0,
                                                         0,       0,       0,    0, 0};

  link.DiscardQueued();
  out = DeviceVersion{};
  std::uint8_t answer[2] = {0, 0};
  // A silent window is asked again: one lost datagram must not make a device look like 0.00 and
  // give it the older configuration size. An answer to an earlier send counts in any window.
  bool heard = false;
  for (unsigned sends = 0; sends < kVersionRequests && !heard; ++sends) {
    const std::int64_t tw = m_clock.NowMs();
    link.Send(kRequest, kHeaderSize);
    ++(sends == 0 ? m_stats.requests : m_stats.resends);
    for (;;) {
      const unsigned n = Poll(link, answer, 2);
      const double e = Seconds(tw, m_clock.NowMs());
      if (n == 0) {
        if (e > kWindowSeconds) break;
        StopPoint();
        link.WaitReadable(kPollMs);
        continue;
      }
      // Whatever the device sent lands in out, as received; only a 2-byte answer ends the wait
      // at once.
      ReportAnswer(answer, std::min<std::size_t>(n, 2), n,
                   n == 2 ? orvel::DatagramFate::Taken : orvel::DatagramFate::TooLong);
      out.kind = answer[0];
      out.number = answer[1];
      m_stats.deviceVersion = out;
      heard = true;
      if (n == 2) return;
      if (e > kWindowSeconds) break;
    }
  }
}

bool CDeviceSession::RestartDevice() {
  const Lease lease = GetLink();
  orvel::ILink& link = *lease;
  static constexpr std::uint8_t kRequest[kHeaderSize] = {kMagic0, kMagic1, 0x0C, 0, 0,
                                                         0,       0,       0,    0, 0};

  link.DiscardQueued();
  const std::int64_t t0 = m_clock.NowMs();
  link.Send(kRequest, kHeaderSize);
  ++m_stats.requests;
  // Room for whatever comes: only a bare "OK" acknowledges the restart. A longer one is another
  // request's answer (a late one to a Write, of this task or an earlier one).
  AnswerBuffer answer{};
  for (;;) {
    const unsigned n = Poll(link, answer.data(), static_cast<std::uint16_t>(answer.size()));
    const double e = Seconds(t0, m_clock.NowMs());
    if (n > 0) {
      const std::size_t shown = std::min<std::size_t>(n, answer.size());
      const bool acknowledged = orvel::exchange::IsRestartAcknowledgement(answer.data(), n);
      ReportAnswer(answer.data(), shown, n,
                   acknowledged                          ? orvel::DatagramFate::Taken
                   : IsLateWriteAnswer(answer.data(), n) ? orvel::DatagramFate::Stale
                                                         : orvel::DatagramFate::Ignored);
      if (acknowledged) return true;
    }
    if (e > kWindowSeconds) return false;
    StopPoint();
    if (n == 0) link.WaitReadable(kPollMs);
  }
}
