// Growable byte array for response bodies and file contents.
#pragma once

#include <cstddef>
#include <vector>

using ByteBuffer = std::vector<unsigned char>;

// Appends length bytes. The capacity grows by half of itself, or to the size needed if that
// is more, so appending chunk by chunk is amortised constant time. Returns false, leaving
// the buffer as it was, when memory runs out. data must not point into the buffer itself.
bool AppendBytes(ByteBuffer& buffer, const void* data, size_t length);

// Makes room for at least capacity bytes in one allocation (never shrinks). Returns false,
// leaving the buffer as it was, when memory runs out.
bool ReserveBytes(ByteBuffer& buffer, size_t capacity);
