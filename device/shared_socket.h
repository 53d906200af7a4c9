#pragma once
// One socket of the tool shared by the sessions of a run over many devices: the devices answer the
// service port, which only one socket can hold, so every device on the same interface and port is
// served through it. Each datagram goes to the inbox of the device it came from (address and
// port); one from anyone else is a stranger, traced and dropped.
//
// Nobody reads the socket on their own: a session that waits for its device while nobody else is
// reading does the reading, handing every datagram to its inbox, and gives the reading over to
// another waiting session when its own answer is there. A single device pays no thread switch for
// an answer that way.
//
//   SharedSockets sockets;
//   SharedSocket& socket = sockets.For(localAddress, port);
//   SharedSocket::Inbox inbox;
//   socket.Register({device, port}, inbox);     // opens the socket with the first device
//   socket.Send(request, size, {device, port});
//   socket.Wait(inbox, 2);                      // at most 2 ms
//   QueuedDatagram answer;
//   if (socket.Take(inbox, answer)) ...
//   socket.Unregister({device, port});          // closes it with the last

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "device/traffic.h"
#include "device/udp_socket.h"

namespace orvel {

struct QueuedDatagram {
  std::array<std::uint8_t, kDatagramScratch> bytes{};
  std::size_t size = 0;        // the full size; more than bytes holds when it did not fit
  std::int64_t arrivedUs = 0;  // when it was taken off the socket, steady microseconds
};

// A bounded queue of datagrams that allocates nothing after its first datagram (and nothing for a
// device that never sends one: a scan registers many).
class DatagramRing {
 public:
  explicit DatagramRing(std::size_t capacity) : m_capacity(capacity) {}
  bool empty() const { return m_count == 0; }
  std::size_t size() const { return m_count; }
  const QueuedDatagram& front() const { return m_slots[m_head]; }
  // False, with nothing stored, when the ring is full.
  bool push(const QueuedDatagram& datagram) {
    if (m_count == m_capacity) return false;
    if (m_slots.empty()) m_slots.resize(m_capacity);
    m_slots[(m_head + m_count++) % m_slots.size()] = datagram;
    return true;
  }
  void pop() {
    m_head = (m_head + 1) % m_slots.size();
    --m_count;
  }
  void clear() { m_head = m_count = 0; }

 private:
  std::size_t m_capacity;
  std::vector<QueuedDatagram> m_slots;
  std::size_t m_head = 0;
  std::size_t m_count = 0;
};

class SharedSocket {
 public:
  // Datagrams waiting for one device; at most kInboxLimit, further ones are dropped (a device
  // sends at most a few answers for a request).
  static constexpr std::size_t kInboxLimit = 64;
  class Inbox {
   public:
    Inbox() = default;
    Inbox(const Inbox&) = delete;
    Inbox& operator=(const Inbox&) = delete;

   private:
    friend class SharedSocket;
    DatagramRing m_queue{kInboxLimit};
    std::condition_variable m_ready;
    bool m_waiting = false;
  };

  SharedSocket(std::uint32_t localAddress, std::uint16_t port);
  ~SharedSocket();
  SharedSocket(const SharedSocket&) = delete;
  SharedSocket& operator=(const SharedSocket&) = delete;

  // Strangers, and datagrams dropped from a full inbox, are reported here (null: nobody). Set it
  // before the first device registers.
  void SetObserver(ITrafficObserver* observer) { m_observer = observer; }

  // Datagrams from device go to inbox from now on; the first device opens the socket (a failure
  // throws boost::system::system_error). False when device is registered already.
  bool Register(Endpoint device, Inbox& inbox);
  // Datagrams from device are strangers from now on; the last device closes the socket.
  void Unregister(Endpoint device);
  bool IsOpen() const;

  // Throws boost::system::system_error.
  std::size_t Send(const std::uint8_t* data, std::size_t size, Endpoint to);
  // Returns once inbox holds a datagram, or after at most ms milliseconds. Reads the socket
  // meanwhile unless someone else does; a receive error is thrown (boost::system::system_error).
  void Wait(Inbox& inbox, unsigned ms);
  // Reads the socket for ms milliseconds (unless someone else does), handing every datagram to its
  // device's inbox: a scan's way of waiting for many devices at once.
  void ReadFor(unsigned ms);
  // Hands out everything the socket holds at this moment (at most kDrainLimit datagrams), each to
  // its device's inbox, without waiting for more: afterwards an inbox holds all that its device
  // sent before the call. A session that is reading is let finish first (it may hold some of it),
  // for at most kReaderWaitMs. A receive error is thrown (boost::system::system_error).
  void ReadQueued();
  static constexpr std::size_t kDrainLimit = 256;
  static constexpr unsigned kReaderWaitMs = 100;
  // The full size of the first datagram of inbox, 0 when it is empty.
  std::size_t FrontSize(Inbox& inbox);
  // Takes the first datagram of inbox; false when it is empty.
  bool Take(Inbox& inbox, QueuedDatagram& out);

 private:
  // Waits for the socket until deadlineMs (steady milliseconds) and hands what it holds out; true
  // once a datagram for own came.
  bool ReadSocket(std::int64_t deadlineMs, const Inbox& own);
  // The inbox the datagram went to; null when it was dropped.
  const Inbox* Deliver(Endpoint sender, const QueuedDatagram& datagram);
  // Wakes one waiting session whose inbox is empty, to take the reading over.
  void HandOver();
  // The reader is done (under m_mutex): closes the socket after the last device, or hands the
  // reading over.
  void StopReading();

  const std::uint32_t m_localAddress;
  const std::uint16_t m_port;
  ITrafficObserver* m_observer = nullptr;
  // Opened and closed only under m_mutex while nobody reads; sends and the reader use it without.
  UdpSocket m_socket;
  mutable std::mutex m_mutex;
  std::map<Endpoint, Inbox*> m_inboxes;
  bool m_reading = false;
  std::condition_variable m_readerDone;  // m_reading went false
  unsigned m_draining = 0;               // sessions in ReadQueued waiting for the reader
  unsigned m_waiters = 0;
};

// The shared sockets of a run, one per interface and port, made when first asked for.
class SharedSockets {
 public:
  explicit SharedSockets(ITrafficObserver* observer = nullptr) : m_observer(observer) {}
  SharedSocket& For(std::uint32_t localAddress, std::uint16_t port);

 private:
  ITrafficObserver* m_observer;
  std::mutex m_mutex;
  std::map<Endpoint, std::unique_ptr<SharedSocket>> m_sockets;  // keyed by interface and port
};

}  // namespace orvel
