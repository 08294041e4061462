// Storage of the registration window's message line.
#include "register/register_status.h"

wchar_t RegisterStatusText[kRegisterStatusCapacity];
