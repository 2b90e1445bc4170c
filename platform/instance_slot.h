// A system-wide named lock per name, the stand-in for a named mutex: CreateMutexA either
// creates it for this process or reports that another process holds it, in one indivisible
// step, and the lock goes away with the process that holds it, however that process ends.
//
// The lock is an flock on "<name>.lock" in $XDG_RUNTIME_DIR, which is private to the user;
// without a runtime directory it is an abstract-namespace unix socket named after the user's
// id and the name.
#pragma once

#include "platform/mmsystem.h"

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

// Null when the lock could not be made at all (for instance a directory of that name is in
// the way). Otherwise a handle, with GetLastError() telling ERROR_ALREADY_EXISTS when another
// process holds the lock; then the handle holds nothing and only needs CloseHandle.
// The security attributes are accepted for the call's shape and ignored.
HANDLE CreateMutexA(void* securityAttributes, BOOL initialOwner, const char* name);
// The result of the last CreateMutexA on this thread.
DWORD GetLastError();
// Gives the handle up; a lock that it held is freed.
BOOL CloseHandle(HANDLE handle);
