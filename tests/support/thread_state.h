// What the kernel says another thread of this process is doing, for tests that must know a
// thread is really asleep or blocked before they act, instead of sleeping and hoping.
#pragma once

#include <sys/syscall.h>
#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace thread_state {

inline std::string TaskFile(pid_t tid, const char* name) {
  return "/proc/self/task/" + std::to_string(tid) + "/" + name;
}

// The system call thread `tid` is blocked in, or -1 while it runs or once it has ended.
inline long BlockedIn(pid_t tid) {
  std::ifstream in(TaskFile(tid, "syscall"));
  long number = -1;
  return in >> number ? number : -1;
}

// Whether thread `tid` is blocked on `mutex`: in futex(), on the mutex's own word.
inline bool WaitsOn(pid_t tid, const void* mutex) {
  std::ifstream in(TaskFile(tid, "syscall"));
  long number = -1;
  uintptr_t address = 0;
  return in >> number >> std::hex >> address && number == SYS_futex && address == uintptr_t(mutex);
}

// How often thread `tid` has gone to sleep so far: the kernel's count of its voluntary switches.
inline long SleepsOf(pid_t tid) {
  std::ifstream status(TaskFile(tid, "status"));
  for (std::string key; status >> key;)
    if (key == "voluntary_ctxt_switches:" && status >> key) return std::stol(key);
  return -1;
}

}  // namespace thread_state
