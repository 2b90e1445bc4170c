// Resources of the program's own module, found by type name and numeric id: the firmware
// images travel inside the executable this way. resources/ registers what is embedded.
#pragma once

#include <cstdint>

#include "platform/mmsystem.h"

struct ResourceEntry;
using HMODULE = void*;
using HRSRC = const ResourceEntry*;
using HGLOBAL = const void*;
using LPCSTR = const char*;

inline LPCSTR MAKEINTRESOURCEA(int id) {
    return reinterpret_cast<LPCSTR>(static_cast<std::uintptr_t>(static_cast<std::uint16_t>(id)));
}

// `name` is MAKEINTRESOURCEA(id); `type` a type name such as "BIN". Null when not found.
HRSRC FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
// Null when the resource's bytes cannot be had.
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
const void* LockResource(HGLOBAL loaded);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// Adds or replaces a resource. `data` null registers one that fails to load (tests use that).
void RegisterResource(LPCSTR type, int id, const void* data, DWORD size);
void UnregisterResource(LPCSTR type, int id);
