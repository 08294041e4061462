// Starting the game from the Connect button.
#pragma once

// Starts the game in the launcher's folder and watches it; called on the main thread.
void LaunchGame();
