#include "session/transfer_engine.h"

#include <algorithm>
#include <cstring>

#include "protocol/exchange_rules.h"
#include "session/device_session.h"

namespace {

using namespace orvel::protocol;
using orvel::DatagramFate;

std::uint16_t AnswerLength(std::uint16_t length) { return static_cast<std::uint16_t>(length + 32); }

}  // namespace

CMBoxExeption NoAnswerBox() {
  return CMBoxExeption(
      L"Нет ответа от прибора!\nПроверьте состояние тампера прибора - тампер должен быть открыт.",
      L"Ошибка обмена данными.", mbox::kIconWarning);
}

TransferEngine::TransferEngine(CDeviceSession& session, orvel::ILink& link, ServiceCommand command,
                               const std::uint16_t& timeLimit)
    : m_session(session),
      m_link(link),
      m_command(command),
      m_timeLimit(timeLimit),
      m_window(session.m_transfer.window) {}

void TransferEngine::Submit(std::uint32_t address, std::uint16_t length, const std::uint8_t* data,
                            std::uint8_t* out) {
  Request request;
  request.address = address;
  request.length = length;
  request.data = data;
  request.out = out;
  m_requests.push_back(request);
  m_session.CountQueued(length);
}

void TransferEngine::Barrier() {
  SendWhatFits();
  while (!m_out.empty()) {
    m_session.StopPoint();
    // What has just gone out cannot be answered yet: wait before the first look, which spares a
    // stop-and-wait transfer two calls into the system per request.
    m_link.WaitReadable(kPollMs);
    for (;;) {
      const unsigned n = m_link.Available() >= 2 ? m_link.Receive(m_answer.data(), kAnswerSize) : 0;
      const bool sent = n > 0 && Judge(n) && SendWhatFits() > 0;
      ResendOverdue();
      if (n == 0 || sent || m_out.empty()) break;
    }
  }
}

std::size_t TransferEngine::SendWhatFits() {
  std::size_t sent = 0;
  while (m_nextToSend < m_requests.size() && m_out.size() < m_window.Size()) {
    Request& request = m_requests[m_nextToSend];
    request.firstSentMs = m_session.m_clock.NowMs();
    if (m_command == ServiceCommand::Write) m_session.m_taskWrites.push_back(request.address);
    Transmit(request);
    ++m_session.m_stats.requests;
    m_out.push_back(m_nextToSend++);
    ++sent;
  }
  return sent;
}

void TransferEngine::Transmit(Request& request) {
  BuildHeader(m_request, m_command, request.length, request.address);
  m_session.SendRequest(m_link, m_command, request.length, request.data, m_request);
  request.lastSentMs = m_session.m_clock.NowMs();
  request.send = m_window.Sent();
  ++request.sends;
}

bool TransferEngine::Judge(unsigned n) {
  const std::optional<std::uint32_t> echo = orvel::exchange::EchoOf(m_command, m_answer.data(), n);
  std::size_t slot = 0;
  Request* request = echo ? Out(*echo, slot) : nullptr;
  if (request == nullptr && echo) {
    if (Request* answered = Answered(*echo)) {
      // A second answer: to a resent request, it tells that the first send was answered after
      // all, and how late; to a request sent once, that the link copies answers.
      DatagramFate fate =
          orvel::exchange::JudgeAnswer(m_command, answered->address, answered->length,
                                       m_answer.data(), n, AnswerLength(answered->length));
      if (fate == DatagramFate::Taken) {
        fate = DatagramFate::Stale;
        if (answered->sends > 1) {
          m_session.m_roundTrip.NeedlessResend(m_session.m_clock.NowMs() - answered->firstSentMs);
        } else {
          m_session.m_roundTrip.Copied();
        }
      }
      const std::uint16_t shown = AnswerLength(answered->length);
      m_session.ReportAnswer(m_answer.data(), std::min<std::size_t>(n, shown), n, fate);
      return false;
    }
  }
  // No request of this transfer is named: judged against the oldest one out, as the only one
  // would be.
  if (request == nullptr) request = &m_requests[m_out.front()];
  const std::uint16_t answerLength = AnswerLength(request->length);
  const DatagramFate fate = orvel::exchange::JudgeAnswer(
      m_command, request->address, request->length, m_answer.data(), n, answerLength);
  m_session.ReportAnswer(m_answer.data(), std::min<std::size_t>(n, answerLength), n, fate);
  if (fate != DatagramFate::Taken) return false;
  Take(slot);
  return true;
}

void TransferEngine::Take(std::size_t slot) {
  const std::size_t index = m_out[slot];
  m_out.erase(m_out.begin() + static_cast<std::ptrdiff_t>(slot));
  Request& request = m_requests[index];
  request.answered = true;
  // Never more than the block asked for: a longer answer's surplus is dropped.
  if (m_command == ServiceCommand::Read) std::memcpy(request.out, m_answer.data(), request.length);
  // Only a request sent once tells its round trip: a resent one's answer may be to either send.
  if (request.sends == 1) {
    m_session.m_roundTrip.Sample(m_session.m_clock.NowMs() - request.lastSentMs);
  }
  m_window.Answered();
  m_session.m_stats.bytes += request.length;
  ++m_answered;
  m_answeredBytes += request.length;
  if (m_onAnswer) m_onAnswer(m_answered, m_answeredBytes);
  m_session.StatsChanged();
}

void TransferEngine::ResendOverdue() {
  const std::int64_t now = m_session.m_clock.NowMs();
  for (const std::size_t index : m_out) {
    Request& request = m_requests[index];
    if (now - request.lastSentMs <= static_cast<std::int64_t>(TimeoutMs(request))) continue;
    if (static_cast<double>(now - request.firstSentMs) / 1000.0 > m_timeLimit) {
      throw NoAnswerBox();
    }
    m_window.Lost(request.send);
    Transmit(request);
    ++m_session.m_stats.resends;
    m_session.StatsChanged();
  }
}

unsigned TransferEngine::TimeoutMs(const Request& request) const {
  const std::optional<unsigned>& fixed = m_session.m_transfer.resendMs;
  return fixed ? *fixed : m_session.m_roundTrip.TimeoutMs(request.sends - 1);
}

TransferEngine::Request* TransferEngine::Out(std::uint32_t address, std::size_t& slot) {
  for (slot = 0; slot < m_out.size(); ++slot) {
    if (m_requests[m_out[slot]].address == address) return &m_requests[m_out[slot]];
  }
  slot = 0;
  return nullptr;
}

TransferEngine::Request* TransferEngine::Answered(std::uint32_t address) {
  // Late copies are mostly of the latest answers: look from the newest back.
  for (std::size_t i = m_nextToSend; i-- > 0;) {
    if (m_requests[i].answered && m_requests[i].address == address) return &m_requests[i];
  }
  return nullptr;
}
