// Writing a whole buffer to a file descriptor, through short writes and interruptions.
#pragma once

#include <cstddef>

// False when a write fails or writes nothing; errno then says why.
bool WriteAll(int fd, const void* data, size_t length);
