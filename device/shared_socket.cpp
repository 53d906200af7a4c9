// Boost first: on Windows it brings winsock2.h in before anything can pull in windows.h.
#include "device/shared_socket.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "platform/clock.h"

namespace orvel {
namespace {

// The most datagrams one reading hands out before the reader looks at its own inbox again.
constexpr int kReadLimit = 64;

}  // namespace

SharedSocket::SharedSocket(std::uint32_t localAddress, std::uint16_t port)
    : m_localAddress(localAddress), m_port(port) {}

SharedSocket::~SharedSocket() = default;

bool SharedSocket::Register(Endpoint device, Inbox& inbox) {
  const std::lock_guard lock(m_mutex);
  if (m_inboxes.contains(device)) return false;
  if (!m_socket.IsOpen()) {
    m_socket.Open(m_localAddress, m_port);
    try {
      m_socket.IgnoreUnreachableReports();
    } catch (...) {
      m_socket.Close();
      throw;
    }
  }
  inbox.m_queue.clear();
  m_inboxes.emplace(device, &inbox);
  return true;
}

void SharedSocket::Unregister(Endpoint device) {
  const std::lock_guard lock(m_mutex);
  m_inboxes.erase(device);
  // A reader still at work closes it when done.
  if (m_inboxes.empty() && !m_reading) m_socket.Close();
}

bool SharedSocket::IsOpen() const {
  const std::lock_guard lock(m_mutex);
  return m_socket.IsOpen();
}

std::size_t SharedSocket::Send(const std::uint8_t* data, std::size_t size, Endpoint to) {
  return m_socket.SendTo(data, size, to);
}

void SharedSocket::Wait(Inbox& inbox, unsigned ms) {
  const std::int64_t deadline = SteadyNowMs() + ms;
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (!inbox.m_queue.empty() || !m_socket.IsOpen()) return;
    // A drain waiting for the reader goes first: otherwise sessions taking the reading over one
    // after another could keep it waiting.
    if (!m_reading && m_draining == 0) {
      // This session reads until its own answer is there or its time is up, then hands over.
      m_reading = true;
      std::exception_ptr failure;
      lock.unlock();
      try {
        for (;;) {
          if (ReadSocket(deadline, inbox)) {
            lock.lock();
            break;
          }
          lock.lock();
          if (!inbox.m_queue.empty() || m_inboxes.empty() || SteadyNowMs() >= deadline) break;
          lock.unlock();
        }
      } catch (...) {
        failure = std::current_exception();
        if (!lock.owns_lock()) lock.lock();
      }
      StopReading();
      if (failure) std::rethrow_exception(failure);
      return;
    }
    if (SteadyNowMs() >= deadline) return;
    inbox.m_waiting = true;
    ++m_waiters;
    inbox.m_ready.wait_until(
        lock, std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadline)));
    --m_waiters;
    inbox.m_waiting = false;
  }
}

bool SharedSocket::ReadSocket(std::int64_t deadlineMs, const Inbox& own) {
  const std::int64_t left = std::max<std::int64_t>(0, deadlineMs - SteadyNowMs());
  if (!m_socket.WaitReadable(static_cast<unsigned>(left))) return false;
  // The wait has seen the first datagram; the reader stops at its own, the rest is for the next.
  QueuedDatagram datagram;
  for (int taken = 0; taken == 0 || (taken < kReadLimit && m_socket.HasQueuedDatagram()); ++taken) {
    Endpoint sender;
    datagram.size = m_socket.ReceiveFrom(datagram.bytes.data(), datagram.bytes.size(), sender);
    datagram.arrivedUs = SteadyNowUs();
    if (Deliver(sender, datagram) == &own) return true;
  }
  return false;
}

const SharedSocket::Inbox* SharedSocket::Deliver(Endpoint sender, const QueuedDatagram& datagram) {
  DatagramFate dropped = DatagramFate::Stranger;
  {
    const std::lock_guard lock(m_mutex);
    const auto found = m_inboxes.find(sender);
    if (found != m_inboxes.end()) {
      Inbox& inbox = *found->second;
      if (!inbox.m_queue.push(datagram)) {
        dropped = DatagramFate::Stale;
      } else {
        if (inbox.m_waiting) inbox.m_ready.notify_one();
        return &inbox;
      }
    }
  }
  if (m_observer) {
    m_observer->Received(sender.address, sender.port, datagram.bytes.data(),
                         std::min(datagram.size, datagram.bytes.size()), datagram.size, dropped);
  }
  return nullptr;
}

void SharedSocket::ReadQueued() {
  std::unique_lock lock(m_mutex);
  // A reader stops at its own answer and leaves the rest in the socket: once it is done, whatever
  // is left there is read here, all of it, not only up to the first datagram of the caller's.
  ++m_draining;
  m_readerDone.wait_for(lock, std::chrono::milliseconds(kReaderWaitMs),
                        [this] { return !m_reading || !m_socket.IsOpen(); });
  --m_draining;
  if (m_reading || !m_socket.IsOpen()) return;
  m_reading = true;
  lock.unlock();
  std::exception_ptr failure;
  try {
    QueuedDatagram datagram;
    for (std::size_t taken = 0; taken < kDrainLimit && m_socket.HasQueuedDatagram(); ++taken) {
      Endpoint sender;
      datagram.size = m_socket.ReceiveFrom(datagram.bytes.data(), datagram.bytes.size(), sender);
      datagram.arrivedUs = SteadyNowUs();
      Deliver(sender, datagram);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  StopReading();
  if (failure) std::rethrow_exception(failure);
}

void SharedSocket::StopReading() {
  m_reading = false;
  m_readerDone.notify_all();
  if (m_inboxes.empty()) {
    m_socket.Close();
  } else {
    HandOver();
  }
}

void SharedSocket::HandOver() {
  if (m_waiters == 0) return;
  for (auto& [device, inbox] : m_inboxes) {
    if (inbox->m_waiting && inbox->m_queue.empty()) {
      inbox->m_ready.notify_one();
      return;
    }
  }
}

void SharedSocket::ReadFor(unsigned ms) {
  // An inbox of nobody: nothing ever arrives in it, so the wait reads until its time is up.
  Inbox nobody;
  Wait(nobody, ms);
}

std::size_t SharedSocket::FrontSize(Inbox& inbox) {
  const std::lock_guard lock(m_mutex);
  return inbox.m_queue.empty() ? 0 : inbox.m_queue.front().size;
}

bool SharedSocket::Take(Inbox& inbox, QueuedDatagram& out) {
  const std::lock_guard lock(m_mutex);
  if (inbox.m_queue.empty()) return false;
  out = inbox.m_queue.front();
  inbox.m_queue.pop();
  return true;
}

SharedSocket& SharedSockets::For(std::uint32_t localAddress, std::uint16_t port) {
  const std::lock_guard lock(m_mutex);
  auto& socket = m_sockets[Endpoint{localAddress, port}];
  if (!socket) {
    socket = std::make_unique<SharedSocket>(localAddress, port);
    socket->SetObserver(m_observer);
  }
  return *socket;
}

}  // namespace orvel
