#include "protocol/transfer_pacing.h"

#include <algorithm>
#include <cmath>

namespace orvel::exchange {

void RoundTripEstimate::Sample(std::int64_t ms) {
  const double r = static_cast<double>(std::max<std::int64_t>(ms, 0));
  if (!m_measured) {
    m_measured = true;
    m_smoothed = r;
    m_variation = r / 2;
  } else {
    m_variation = 0.75 * m_variation + 0.25 * std::abs(m_smoothed - r);
    m_smoothed = 0.875 * m_smoothed + 0.125 * r;
  }
  m_hold = std::max(m_hold - m_hold / kHoldFade, r);
  m_copies -= m_copies / kHoldFade;
}

void RoundTripEstimate::NeedlessResend(std::int64_t lateMs) {
  if (m_copies >= 0.5) return;
  m_hold = std::max(m_hold, static_cast<double>(std::max<std::int64_t>(lateMs, 0)));
}

void RoundTripEstimate::Copied() { m_copies += 1; }

unsigned RoundTripEstimate::TimeoutMs(unsigned resends) const {
  if (!m_measured) return kCeilingMs;
  double wait = std::max(m_smoothed + 4 * m_variation, 1.5 * m_hold);
  wait = std::clamp(std::ceil(wait), double{kFloorMs}, double{kCeilingMs});
  for (unsigned i = 0; i < resends && wait < kCeilingMs; ++i) wait *= 2;
  return static_cast<unsigned>(std::min(wait, double{kCeilingMs}));
}

FlightWindow::FlightWindow(unsigned limit)
    : m_limit(std::clamp(limit, 1u, kMaxLimit)), m_threshold(m_limit) {}

void FlightWindow::Answered() {
  if (m_size >= m_limit) return;
  if (m_size < m_threshold) {
    ++m_size;
    return;
  }
  if (++m_answersInRound >= m_size) {
    m_answersInRound = 0;
    ++m_size;
  }
}

void FlightWindow::Lost(std::uint64_t send) {
  if (send < m_recovery) return;
  m_threshold = std::max(m_size / 2, 1u);
  m_size = m_threshold;
  m_answersInRound = 0;
  m_recovery = m_sends;
}

}  // namespace orvel::exchange
