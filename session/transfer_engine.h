#pragma once
// The one loop through which the requests whose answers echo their address reach the device: the
// region read, the region write, the program transfer and a single Read or Write Exchange. The
// requests of one transfer are handed over in order; the engine keeps up to the window's size of
// them out at once, each with its own resend timer, takes every answer by the address it echoes,
// in any order, and counts what it sends and takes in the session's stats. Barrier() returns once
// everything handed over so far is answered: what must follow the rest (a checksum word after its
// image) is handed over after it.
//
// The session's TransferSettings choose the pace: the dialog's defaults (one request at a time,
// each sent again every 1.5 s) are its stop-and-wait exchange; orvelctl may let the wait follow
// the device's round trip (orvel::exchange::RoundTripEstimate, kept by the session across the
// transfers of a task) and allow several requests out (orvel::exchange::FlightWindow). The
// acceptance rules are JudgeAnswer's either way, and the no-answer limit is the session's.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "common/error_report.h"
#include "device/link.h"
#include "protocol/packets.h"
#include "protocol/transfer_pacing.h"

class CDeviceSession;

class TransferEngine {
 public:
  // After every answer taken: how many requests of this transfer, and how many of their data
  // bytes, are answered so far.
  using AnswerCallback = std::function<void(std::size_t answered, std::size_t bytes)>;

  // command is Read or Write; timeLimit (seconds) is read anew at every decision, as Exchange
  // reads it. The caller holds a lease on link for the engine's life.
  TransferEngine(CDeviceSession& session, orvel::ILink& link, ServiceCommand command,
                 const std::uint16_t& timeLimit);
  TransferEngine(const TransferEngine&) = delete;
  TransferEngine& operator=(const TransferEngine&) = delete;

  void OnAnswer(AnswerCallback callback) { m_onAnswer = std::move(callback); }

  // Hands a request over; it goes out when the window has room. The length bytes at data (Write)
  // and the length bytes at out (Read) must stay until the request is answered. Two requests of
  // one transfer never share an address.
  void Submit(std::uint32_t address, std::uint16_t length, const std::uint8_t* data,
              std::uint8_t* out);
  // Returns once every request handed over is answered; throws the no-answer box when one of
  // them is still unanswered at a resend due more than the time limit after its first send.
  void Barrier();

 private:
  struct Request {
    std::uint32_t address = 0;
    std::uint16_t length = 0;
    const std::uint8_t* data = nullptr;
    std::uint8_t* out = nullptr;
    std::int64_t firstSentMs = 0;
    std::int64_t lastSentMs = 0;
    std::uint64_t send = 0;  // the window's number of its last send
    unsigned sends = 0;
    bool answered = false;
  };

  // Sends requests not yet out while the window has room; how many went.
  std::size_t SendWhatFits();
  void Transmit(Request& request);
  // Judges a datagram of n bytes from the device (in m_answer); true when it was an answer taken.
  bool Judge(unsigned n);
  void Take(std::size_t slot);
  void ResendOverdue();
  unsigned TimeoutMs(const Request& request) const;
  Request* Out(std::uint32_t address, std::size_t& slot);
  Request* Answered(std::uint32_t address);

  CDeviceSession& m_session;
  orvel::ILink& m_link;
  ServiceCommand m_command;
  const std::uint16_t& m_timeLimit;
  orvel::exchange::FlightWindow m_window;
  std::vector<Request> m_requests;
  std::vector<std::size_t> m_out;  // indices into m_requests of the requests out, oldest first
  std::size_t m_nextToSend = 0;
  std::size_t m_answered = 0;
  std::size_t m_answeredBytes = 0;
  AnswerCallback m_onAnswer;
  orvel::protocol::RequestBuffer m_request{};
  orvel::protocol::AnswerBuffer m_answer{};
};

// The box of a request that stayed unanswered past the exchange's time limit.
CMBoxExeption NoAnswerBox();
