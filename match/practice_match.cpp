// Practice match wiring: the opponent's loop on its own thread; Start and Stop on the main
// thread.
#include "match/practice_match.h"

#include <string>
#include <vector>

#include "match/match_sync.h"
#include "records/game_records.h"
#include "services/tick_pacing.h"

PracticeMatch::PracticeMatch(int level, uint32_t seed) : opponent_(level, seed) {}

PracticeMatch::~PracticeMatch() { Stop(); }

void PracticeMatch::Start() {
  UseMatchLink(&link_.PlayerEnd());
  Initialize_network();  // over the link: the match numbers afresh and opens nothing
  thread_ = std::thread([this] { Run(); });
}

void PracticeMatch::Stop() {
  if (thread_.joinable()) thread_.join();
  UseMatchLink(nullptr);
}

void PracticeMatch::Run() {
  std::vector<std::string> heard, said;
  MatchLink& end = link_.OpponentEnd();
  RunFixedRateLoop(refresh_rate[kRateGameLoops], nullptr, [&] {
    end.Take(heard);
    for (const std::string& text : heard) opponent_.Hear(text);
    heard.clear();
    opponent_.Tick(said);
    for (const std::string& text : said) end.Send(text);
    said.clear();
  });
}
