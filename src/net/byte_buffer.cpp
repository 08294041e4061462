// Byte buffer growth without exceptions leaking out: running out of memory is a result.
#include "net/byte_buffer.h"

#include <new>
#include <stdexcept>

bool ReserveBytes(ByteBuffer& buffer, size_t capacity) {
    if (capacity <= buffer.capacity()) {
        return true;
    }
    if (capacity > buffer.max_size()) {
        return false;
    }
    // reserve gives the strong guarantee: on failure the buffer keeps its bytes.
    try {
        buffer.reserve(capacity);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool AppendBytes(ByteBuffer& buffer, const void* data, size_t length) {
    if (length == 0) {
        return true;
    }
    size_t size = buffer.size();
    size_t limit = buffer.max_size();
    if (length > limit - size) {
        return false;
    }
    size_t needed = size + length;
    size_t capacity = buffer.capacity();
    if (needed > capacity) {
        size_t grown = capacity <= limit - capacity / 2 ? capacity + capacity / 2 : limit;
        if (!ReserveBytes(buffer, grown > needed ? grown : needed)) {
            return false;
        }
    }
    // The capacity is there now, so this insert does not allocate and cannot throw.
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), bytes, bytes + length);
    return true;
}
