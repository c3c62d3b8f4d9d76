// Command strings: every parse and conversion failure with its text, the grouping edge cases,
// and the builders' output read back by the parser. Test thread only.
#include "records/command_string.h"
#include <gtest/gtest.h>
#include <cerrno>

namespace {
const std::string kName = "Coordinate0000000000";
const std::string kShort = "The input string's length does not meet the format: at least 22 characters are required.";
const std::string kOpen = "Command format error: a closing \" } \" is missing.";
const std::string kInvalid = "The string's format is invalid and cannot be converted to \"float\": ";

template <class E, class F>
std::string ThrownText(F call) {
  try { call(); } catch (const E& e) { return e.what(); }
  return "(nothing thrown)";
}

TEST(ParseCommandStringTest, RejectsEachMalformedInputWithItsMessage) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "The input string must not be empty."}, {kName, kShort}, {kName + "{", kShort}, {kName + "{1}{2", kOpen},
      {kName + "{1}{", kOpen}, {kName + std::string("{\0\0", 3), kOpen}};
  for (const auto& [input, message] : cases)
    EXPECT_EQ(ThrownText<std::invalid_argument>([&] { parseCommandString(input); }), message) << input;
}

TEST(ParseCommandStringTest, TakesTheFirstTwentyCharactersAndEveryBraceGroup) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {kName + "{1.5}", {"1.5"}}, {kName + "{}", {""}}, {kName + "xyz", {}}, {kName + "{a{b}", {"a{b"}},
      {"X0000000000000000000ab{1}cd{2}", {"1", "2"}}, {kName + "}{x}}", {"x"}}};
  for (const auto& [input, values] : cases)
    EXPECT_EQ(parseCommandString(input), ParsedCommand(input.substr(0, 20), values)) << input;
}

TEST(StringToFloatTest, TrimsOnlySpaceTabCrLfAndRejectsEmptyBlankMalformedAndOutOfRangeTexts) {
  const std::pair<std::string, std::string> rejected[] = {
      {"", "An empty string cannot be converted to \"float\"."},
      {" \t\r\n ", "The string holds only whitespace and cannot be converted."}, {"\v", kInvalid + "\v"},
      {" abc\n", kInvalid + "abc"}};
  for (const auto& [input, message] : rejected)
    EXPECT_EQ(ThrownText<std::invalid_argument>([&] { stringToFloat(input); }), message) << input;
  EXPECT_EQ(ThrownText<std::out_of_range>([] { stringToFloat(" 1e40\t"); }),
            "The value exceeds the range of the \"float\" type: 1e40");
  errno = ERANGE;  // left over from an unrelated call
  const std::pair<std::string, float> read[] = {
      {"  \t3.25\r\n", 3.25f}, {"\v3", 3.0f}, {"1.5abc", 1.5f}, {std::string("2\0" "9", 3), 2.0f}};
  for (const auto& [input, value] : read) EXPECT_EQ(stringToFloat(input), value) << input;
}

TEST(CommandBuildersTest, BuiltCommandsReadBackExactly) {
  EXPECT_EQ(parseCommandString(BuildMapBlockCommand(3, 12, "wall", true)),
            ParsedCommand("One_Map_block0000000", {"3", "12", "wall", "1"}));
  EXPECT_EQ(parseCommandString(BuildAttackNotification()), ParsedCommand("Attack_notification0", {""}));
  for (const float value : {412.5f, -0.125f, 799.75f, 123456.5f}) {  // six decimals hold them exactly
    const std::vector<std::string> read = parseCommandString(BuildCoordinateCommand(value, -value)).second;
    EXPECT_EQ(std::make_pair(stringToFloat(read.at(0)), stringToFloat(read.at(1))), std::make_pair(value, -value));
  }
}
}  // namespace
