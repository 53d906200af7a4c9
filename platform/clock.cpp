#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace orvel {

std::int64_t SteadyNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t SteadyNowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t SteadyClock::NowMs() { return SteadyNowMs(); }

void SteadyClock::SleepMs(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::tm UtcCalendar(std::time_t time) {
  std::tm fields{};
#ifdef _WIN32
  gmtime_s(&fields, &time);
#else
  gmtime_r(&time, &fields);
#endif
  return fields;
}

std::tm LocalCalendar(std::time_t time) {
  std::tm fields{};
#ifdef _WIN32
  localtime_s(&fields, &time);
#else
  localtime_r(&time, &fields);
#endif
  return fields;
}

}  // namespace orvel
