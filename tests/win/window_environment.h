// What start-up prepares before any window exists, done once per Win32 test program:
// GDI+, the common controls, the seven fonts and both window classes.
#pragma once

void PrepareWindowEnvironment();
