// Definition of the close requests; written and read by any thread.
#include "services/close_request.h"

std::atomic<bool> ecl{false};
std::atomic<bool> window_closing{false};
std::atomic<bool> escape_leaves{false};
