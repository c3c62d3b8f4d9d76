// Fuzz target for the command-string parser and the float conversion: any bytes a peer
// could send. Only the documented exceptions with their documented texts may come out;
// anything else, or a parse result that does not fit the input, aborts. Single-threaded.
#include "records/command_string.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

void Check(bool condition) {
  if (!condition) std::abort();
}

void ConvertOrReject(const std::string& text) {
  try {
    stringToFloat(text);
  } catch (const std::invalid_argument& e) {
    const std::string what = e.what();
    Check(what == kEmptyFloatMessage || what == kBlankFloatMessage || StartsWith(what, kInvalidFloatMessage));
  } catch (const std::out_of_range& e) {
    Check(StartsWith(e.what(), kFloatRangeMessage));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = size > 0 ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
  try {
    const ParsedCommand parsed = parseCommandString(text);
    Check(parsed.first == text.substr(0, 20));
    std::size_t used = 0;
    for (const std::string& value : parsed.second) {
      Check(value.find('}') == std::string::npos);
      used += value.size() + 2;
      ConvertOrReject(value);
    }
    Check(used <= size - 20);
  } catch (const std::invalid_argument& e) {
    const std::string what = e.what();
    Check(what == kEmptyCommandMessage || what == kShortCommandMessage || what == kMissingBraceMessage);
  }
  ConvertOrReject(text);
  return 0;
}
