#include "scripted_link.h"

#include <algorithm>
#include <cstring>

#include "protocol/packets.h"
#include "scripted_clock.h"

namespace orvel::test {

std::uint16_t ScriptedLink::Request::Length() const { return protocol::GetU16(&bytes.at(4)); }

std::uint32_t ScriptedLink::Request::Address() const {
  (void)bytes.at(9);
  return protocol::GetU32(&bytes[6]);
}

std::vector<std::uint8_t> ScriptedLink::Request::Data() const {
  if (bytes.size() <= protocol::kHeaderSize || Command() == 0x00) return {};
  const std::size_t length = std::min<std::size_t>(Length(), bytes.size() - protocol::kHeaderSize);
  return {bytes.begin() + protocol::kHeaderSize, bytes.begin() + protocol::kHeaderSize + length};
}

void ScriptedLink::Answer(std::vector<std::uint8_t> bytes, unsigned delayMs, Sender sender) {
  Datagram datagram{std::move(bytes), m_clock.NowMs() + delayMs, sender};
  // Keep arrival order; equal times keep the order of queuing.
  auto at = std::upper_bound(
      m_queue.begin(), m_queue.end(), datagram.arrivalMs,
      [](std::int64_t time, const Datagram& queued) { return time < queued.arrivalMs; });
  m_queue.insert(at, std::move(datagram));
}

std::int64_t ScriptedLink::NextArrivalMs() const {
  return m_queue.empty() ? -1 : m_queue.front().arrivalMs;
}

bool ScriptedLink::Init(const std::uint32_t& deviceAddress, const std::uint16_t& port,
                        const std::uint32_t& localAddress) {
  ++m_initCalls;
  m_deviceAddress = deviceAddress;
  m_port = port;
  m_localAddress = localAddress;
  m_queue.clear();
  m_open = !m_failInit;
  return m_open;
}

void ScriptedLink::Close() {
  ++m_closeCalls;
  m_open = false;
  m_queue.clear();
}

unsigned ScriptedLink::Send(const std::uint8_t* data, std::uint16_t length) {
  if (!m_open) return 0;
  Request request{{data, data + length}, m_clock.NowMs(), m_requests.size()};
  m_requests.push_back(request);
  if (m_observer) m_observer->Sent(m_deviceAddress, m_port, data, length);
  if (m_responder) m_responder(request, *this);
  return length;
}

const ScriptedLink::Datagram* ScriptedLink::FirstArrived() const {
  if (!m_open || m_queue.empty() || m_queue.front().arrivalMs > m_clock.NowMs()) return nullptr;
  return &m_queue.front();
}

unsigned ScriptedLink::Available() {
  const Datagram* first = FirstArrived();
  return first != nullptr ? static_cast<unsigned>(first->bytes.size()) : 0;
}

unsigned ScriptedLink::Receive(std::uint8_t* buffer, std::uint16_t length) {
  if (!m_open) return 0;
  if (FirstArrived() == nullptr) {
    ++m_blockingReceives;
    return 0;
  }
  Datagram datagram = std::move(m_queue.front());
  m_queue.pop_front();
  if (datagram.sender != Sender::Device) {
    Report(datagram, DatagramFate::Stranger);
    return 0;
  }
  const std::size_t copied = std::min<std::size_t>(length, datagram.bytes.size());
  if (copied > 0) std::memcpy(buffer, datagram.bytes.data(), copied);
  return static_cast<unsigned>(datagram.bytes.size());
}

void ScriptedLink::WaitReadable(unsigned ms) {
  const std::int64_t now = m_clock.NowMs();
  std::int64_t until = now + ms;
  if (m_open && !m_queue.empty()) until = std::clamp(m_queue.front().arrivalMs, now, until);
  m_clock.AdvanceTo(until);
}

void ScriptedLink::DiscardQueued() {
  while (const Datagram* first = FirstArrived()) {
    Report(*first, first->sender == Sender::Device ? DatagramFate::Stale : DatagramFate::Stranger);
    m_queue.pop_front();
  }
}

void ScriptedLink::Report(const Datagram& datagram, DatagramFate fate) {
  if (!m_observer) return;
  const std::uint32_t address =
      datagram.sender == Sender::Stranger ? kStrangerAddress : m_deviceAddress;
  const std::uint16_t port =
      static_cast<std::uint16_t>(datagram.sender == Sender::WrongPort ? m_port + 1 : m_port);
  m_observer->Received(address, port, datagram.bytes.data(), datagram.bytes.size(),
                       datagram.bytes.size(), fate);
}

WrittenRange WrittenBytes(const ScriptedLink& link, std::uint32_t address, std::size_t size) {
  WrittenRange written{std::vector<std::uint8_t>(size, 0), 0};
  for (const ScriptedLink::Request& request : link.Requests()) {
    if (request.Command() != static_cast<std::uint8_t>(ServiceCommand::Write)) continue;
    const std::vector<std::uint8_t> data = request.Data();
    const std::uint64_t begin = request.Address();
    if (begin < address || begin >= std::uint64_t{address} + size) continue;
    written.end = std::max(written.end, begin + data.size());
    for (std::size_t i = 0; i < data.size() && begin - address + i < size; ++i) {
      written.bytes[begin - address + i] = data[i];
    }
  }
  return written;
}

}  // namespace orvel::test
