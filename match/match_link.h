// The way a match's datagrams travel when it is not the UDP transport: an in-process channel
// to a practice opponent. The send thread sends, the receive thread takes.
#pragma once

#include <string>
#include <vector>

class MatchLink {
 public:
  virtual ~MatchLink() = default;
  // One datagram's text toward the other end; never blocks.
  virtual void Send(const std::string& datagram) = 0;
  // Appends what has arrived since the last call, oldest first.
  virtual void Take(std::vector<std::string>& arrived) = 0;
};
