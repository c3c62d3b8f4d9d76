// Command-string parsing and building; pure functions called from the bullet, main, send,
// receive and practice opponent threads. Numbers go through the "C" locale: Qt adopts the
// user's locale at start-up, and a decimal comma would make the two peers misread each
// other's floats.
#include "records/command_string.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <locale.h>
#include <stdexcept>
#include <stdlib.h>
#include <string_view>

namespace {

constexpr std::size_t kNameLength = 20;
constexpr std::size_t kMinCommandLength = kNameLength + 2;  // the name and one "{}"

locale_t ClassicLocale() {
  static const locale_t classic = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return classic;
}

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// "%f" of the value widened to double, as the C locale writes it.
std::string FixedSix(float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                    std::chars_format::fixed, 6);
  return std::string(buffer, result.ptr);
}

std::string Group(const std::string& value) { return "{" + value + "}"; }

}  // namespace

ParsedCommand parseCommandString(const std::string& text) {
  if (text.empty()) throw std::invalid_argument(kEmptyCommandMessage);
  if (text.size() < kMinCommandLength) throw std::invalid_argument(kShortCommandMessage);

  ParsedCommand parsed{text.substr(0, kNameLength), {}};
  const std::string_view rest = std::string_view(text).substr(kNameLength);
  std::size_t pos = 0;
  while (pos < rest.size()) {
    const std::size_t open = rest.find('{', pos);
    if (open == std::string_view::npos) break;
    const std::size_t close = open + 1 < rest.size() ? rest.find('}', open + 1) : std::string_view::npos;
    if (close == std::string_view::npos) throw std::invalid_argument(kMissingBraceMessage);
    parsed.second.emplace_back(rest.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return parsed;
}

float stringToFloat(const std::string& text) {
  if (text.empty()) throw std::invalid_argument(kEmptyFloatMessage);
  std::size_t first = 0;
  while (first < text.size() && IsTrimmed(text[first])) ++first;
  if (first == text.size()) throw std::invalid_argument(kBlankFloatMessage);
  std::size_t last = text.size() - 1;
  while (IsTrimmed(text[last])) --last;
  const std::string trimmed = text.substr(first, last - first + 1);

  // The conversion stops at an embedded NUL like at any other character it cannot use.
  const char* begin = trimmed.c_str();
  char* end = nullptr;
  errno = 0;  // a stale ERANGE from elsewhere must not turn a good value into a failure
  const locale_t classic = ClassicLocale();
  const float value = classic ? strtof_l(begin, &end, classic) : strtof(begin, &end);
  const int error = errno;
  if (end == begin) throw std::invalid_argument(kInvalidFloatMessage + trimmed);
  if (error == ERANGE) throw std::out_of_range(kFloatRangeMessage + trimmed);
  return value;
}

std::string BuildCoordinateCommand(float x, float y) {
  return kCoordinateCommand + Group(FixedSix(x)) + Group(FixedSix(y));
}

std::string BuildMapBlockCommand(int row, int col, const std::string& type, bool is_wall) {
  return kMapBlockCommand + Group(std::to_string(row)) + Group(std::to_string(col)) + Group(type) +
         Group(is_wall ? "1" : "0");
}

std::string BuildDeathNotice() { return kDeathNoticeCommand + Group("MY"); }

std::string BuildScoreCommand(int first, int second) {
  return kScoreCommand + Group(std::to_string(first)) + Group(std::to_string(second));
}

std::string BuildAttackNotification() { return kAttackCommand + Group(""); }

std::string BuildShotCommand(float x, float y, float vx, float vy) {
  return kShotCommand + Group(FixedSix(x)) + Group(FixedSix(y)) + Group(FixedSix(vx)) + Group(FixedSix(vy));
}

float CommandFloat(const std::vector<std::string>& values, size_t i) {
  const float value = stringToFloat(values.at(i));
  if (!std::isfinite(value)) throw std::out_of_range("not a finite number: " + values[i]);
  return value;
}

int CommandInt(const std::vector<std::string>& values, size_t i) {
  const float value = CommandFloat(values, i);
  if (!(value > -2147483904.0f && value < 2147483648.0f)) throw std::out_of_range("not an int: " + values[i]);
  return static_cast<int>(value);
}

std::optional<uint64_t> CommandNumber(const std::vector<std::string>& values, size_t i) {
  if (values.size() <= i) return std::nullopt;
  uint64_t number = 0;
  const std::string& text = values[i];
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || text.empty())
    throw std::invalid_argument("not a command number: " + text);
  return number;
}
