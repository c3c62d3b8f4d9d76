// Puts the calling test thread (and the threads it starts afterwards) into a fresh network
// namespace whose only interface is loopback, with the default route over it, so searches
// broadcast there never leave the machine. Restores the old namespace when it goes.
// Making one takes root (CAP_SYS_ADMIN); NEED_PRIVATE_NETWORK decides what a test does
// without it.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

class PrivateNetwork {
 public:
  PrivateNetwork() : home_(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    if (home_ < 0 || unshare(CLONE_NEWNET) != 0) {
      error = std::string("cannot make a private network namespace (root needed): ") + std::strerror(errno);
      return;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq lo{};
    std::strcpy(lo.ifr_name, "lo");
    rtentry route{};
    reinterpret_cast<sockaddr_in&>(route.rt_dst).sin_family = AF_INET;
    reinterpret_cast<sockaddr_in&>(route.rt_genmask).sin_family = AF_INET;
    route.rt_flags = RTF_UP;
    route.rt_dev = lo.ifr_name;
    const bool up = ioctl(fd, SIOCGIFFLAGS, &lo) == 0 && (lo.ifr_flags |= IFF_UP, ioctl(fd, SIOCSIFFLAGS, &lo) == 0) &&
                    ioctl(fd, SIOCADDRT, &route) == 0;
    if (!up) error = std::string("cannot set up loopback in the namespace: ") + std::strerror(errno);
    close(fd);
  }
  ~PrivateNetwork() {
    if (home_ >= 0) setns(home_, CLONE_NEWNET), close(home_);
  }
  PrivateNetwork(const PrivateNetwork&) = delete;
  PrivateNetwork& operator=(const PrivateNetwork&) = delete;

  std::string error;  // empty when the namespace is ready

 private:
  int home_;
};

// In a test body: skips the test when `network` could not be made, so an unprivileged run
// stays green, but fails it when VANTORIX_REQUIRE_PRIVILEGED=1 says such tests must run.
#define NEED_PRIVATE_NETWORK(network)                                                      \
  do {                                                                                     \
    if ((network).error.empty()) break;                                                    \
    const char* required = std::getenv("VANTORIX_REQUIRE_PRIVILEGED");                     \
    if (required != nullptr && std::strcmp(required, "1") == 0) FAIL() << (network).error; \
    GTEST_SKIP() << (network).error;                                                       \
  } while (false)
