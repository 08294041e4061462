// Sending the registration form to the update server.
#pragma once

#include <windows.h>

// Reads the four fields, checks them, posts the form to "<UpdateUrl>/launcher/register"
// and shows the outcome in the window's message line. Runs on the user-interface thread
// and blocks it for the request.
void SubmitRegistration(HWND registerWindow);
