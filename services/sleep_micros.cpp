// Signal-proof sleeping (called on any thread).
#include "services/sleep_micros.h"

#include <cerrno>
#include <ctime>

void SleepMicros(int64_t micros) {
  if (micros <= 0) return;
  timespec request{static_cast<time_t>(micros / 1000000), static_cast<long>((micros % 1000000) * 1000)};
  timespec remaining{};
  while (nanosleep(&request, &remaining) != 0) {
    if (errno != EINTR) return;
    request = remaining;
  }
}
