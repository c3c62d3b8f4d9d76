// Command strings exchanged with the peer: a 20-character name followed by {value} groups.
// Building (bullet, main and send threads) and taking apart (receive thread), and both on the
// practice opponent's thread, are pure functions without state, safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Command names, each exactly 20 characters.
inline constexpr char kCoordinateCommand[] = "Coordinate0000000000";
inline constexpr char kMapBlockCommand[] = "One_Map_block0000000";
inline constexpr char kDeathNoticeCommand[] = "Death_notice00000000";
inline constexpr char kScoreCommand[] = "Score_modification00";
inline constexpr char kAttackCommand[] = "Attack_notification0";
inline constexpr char kShotCommand[] = "Bullet_fired00000000";

// Texts of the parsing exceptions; the float ones are followed by the trimmed input.
inline constexpr char kEmptyCommandMessage[] = "The input string must not be empty.";
inline constexpr char kShortCommandMessage[] =
    "The input string's length does not meet the format: at least 22 characters are required.";
inline constexpr char kMissingBraceMessage[] = "Command format error: a closing \" } \" is missing.";
inline constexpr char kEmptyFloatMessage[] = "An empty string cannot be converted to \"float\".";
inline constexpr char kBlankFloatMessage[] = "The string holds only whitespace and cannot be converted.";
inline constexpr char kInvalidFloatMessage[] = "The string's format is invalid and cannot be converted to \"float\": ";
inline constexpr char kFloatRangeMessage[] = "The value exceeds the range of the \"float\" type: ";

using ParsedCommand = std::pair<std::string, std::vector<std::string>>;

// Name (the first 20 characters as they are) and the values of the {..} groups in order.
// Throws std::invalid_argument when empty, shorter than 22 characters, or when a group
// is left open.
ParsedCommand parseCommandString(const std::string& text);

// Leading number of the text after trimming space, tab, CR and LF at both ends. Throws
// std::invalid_argument (empty, blank, no number) or std::out_of_range (outside float).
// Always reads '.' as the decimal point, whatever the process locale.
float stringToFloat(const std::string& text);

// Values of a parsed command, refused with std::out_of_range when unusable: a finite float;
// an int (truncated toward zero, refused outside int).
float CommandFloat(const std::vector<std::string>& values, size_t i);
int CommandInt(const std::vector<std::string>& values, size_t i);
// The number a sender appends so that copies and late datagrams can be told apart; nothing
// when a peer of the older protocol left it out. Only plain digits, else std::invalid_argument.
std::optional<uint64_t> CommandNumber(const std::vector<std::string>& values, size_t i);

// Coordinate0000000000{x}{y}, both with six decimals.
std::string BuildCoordinateCommand(float x, float y);
// One_Map_block0000000{row}{col}{type}{1|0}
std::string BuildMapBlockCommand(int row, int col, const std::string& type, bool is_wall);
// Death_notice00000000{MY}
std::string BuildDeathNotice();
// Score_modification00{first}{second}: first lands in the receiver's deaths, second in its kills.
std::string BuildScoreCommand(int first, int second);
// Attack_notification0{}: the empty group gives the name the 22 characters a parser needs.
std::string BuildAttackNotification();
// Bullet_fired00000000{x}{y}{vx}{vy}: a shot's launch point and velocity, six decimals each.
std::string BuildShotCommand(float x, float y, float vx, float vy);
