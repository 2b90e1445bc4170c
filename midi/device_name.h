// The product name from a capability query, copied into a caller's 40-byte name buffer.
#pragma once

#include <cstddef>
#include <cstring>

// Stops at the terminator, or after 31 characters when the platform left none.
inline void CopyDeviceName(const char (&pname)[32], char* name) {
    const void* end = std::memchr(pname, '\0', sizeof(pname) - 1);
    const std::size_t length =
        end != nullptr ? static_cast<const char*>(end) - pname : sizeof(pname) - 1;
    std::memcpy(name, pname, length);
    name[length] = '\0';
}
