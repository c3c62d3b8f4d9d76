// In-process datagram channel (any thread; one lock per direction).
#include "match/in_process_link.h"

void InProcessLink::Queue::Push(const std::string& text) {
  std::lock_guard lock(mutex);
  if (texts.size() >= kCapacity) texts.pop_front();
  texts.push_back(text);
}

void InProcessLink::Queue::TakeAll(std::vector<std::string>& out) {
  std::lock_guard lock(mutex);
  for (std::string& text : texts) out.push_back(std::move(text));
  texts.clear();
}
