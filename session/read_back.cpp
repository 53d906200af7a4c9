// Read-back verification: the regions a task wrote are read again and compared byte for byte.
#include "protocol/read_back.h"
#include "protocol/exchange_rules.h"
#include "session/device_session.h"

void CDeviceSession::VerifyWritten(const std::vector<WrittenRegion>& regions,
                                   const bool& suppressProgress) {
  const Lease lease = GetLink();
  std::size_t total = 0;
  for (const WrittenRegion& region : regions) total += region.size;
  AnnounceBytes(total);
  const auto percent = [total](std::size_t done) { return orvel::exchange::ShareOf(done, total); };

  orvel::protocol::ReadBackMismatch mismatch;
  Bytes read;
  std::size_t done = 0;
  for (const WrittenRegion& region : regions) {
    read.assign(region.size, 0);
    {
      // Each region moves the bar in proportion to its size.
      ProgressShare share(m_progress, percent(done), percent(done + region.size));
      ReadRegion(region.address, static_cast<int>(region.size), read.data(), suppressProgress);
    }
    orvel::protocol::CompareReadBack(region.address, region.data, read.data(), region.size,
                                     mismatch);
    done += region.size;
  }
  if (mismatch.count != 0) throw orvel::protocol::ReadBackFailed(mismatch);
}

void CDeviceSession::WriteThenVerify(const std::function<void()>& write,
                                     const std::function<void()>& verify) {
  {
    // With a read-back, the write takes the first half of the bar and the read-back the second.
    ProgressShare share(m_progress, 0, m_verify ? 50 : 100);
    write();
  }
  if (!m_verify) return;
  try {
    ProgressShare share(m_progress, 50, 100);
    verify();
  } catch (...) {
    // A difference, or a device that stopped answering: what it holds is unknown.
    m_stats.verifyFailed = true;
    throw;
  }
  m_progress.SetPos(100);
}
