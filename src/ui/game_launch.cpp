// Game start from the Connect button. Nothing is started yet: the launch comes later.
#include "ui/game_launch.h"

void LaunchGame() {}
