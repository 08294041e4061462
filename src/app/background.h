// The background picture of the main window, decoded once at start-up.
#pragma once

// Decodes "<LauncherDir>\<BackgroundImage>" (PNG or JPEG) into BackgroundPicture. Any
// failure leaves no picture and a black frame, silently.
void LoadBackgroundPicture();
