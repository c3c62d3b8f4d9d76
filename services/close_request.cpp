// Definition of the close request; written and read by any thread.
#include "services/close_request.h"

std::atomic<bool> ecl{false};
