// Entry point of the game binary; everything else lives in the library.
#include "app/game_session.h"

int main(int argc, char** argv) { return RunGame(argc, argv); }
