#include "platform/instance_slot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr DWORD kErrorAccessDenied = 5;

struct SlotLock {
    int fd;
};

thread_local DWORD t_lastError = ERROR_SUCCESS;

HANDLE Fail(int fd) {
    if (fd >= 0) {
        close(fd);
    }
    t_lastError = kErrorAccessDenied;
    return nullptr;
}

HANDLE Handle(int fd, DWORD error) {
    auto* lock = new (std::nothrow) SlotLock{fd};
    if (lock == nullptr) {
        return Fail(fd);
    }
    t_lastError = error;
    return lock;
}

// The file is never removed: unlinking a lock file that another process is about to lock
// would let two processes hold "the same" lock on two different files.
HANDLE LockFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        return Fail(-1);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return Fail(fd);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return Handle(fd, ERROR_SUCCESS);
    }
    if (errno == EWOULDBLOCK) {
        close(fd);
        return Handle(-1, ERROR_ALREADY_EXISTS);
    }
    return Fail(fd);
}

// An abstract socket has no file to clean up and is unbound when its last descriptor closes.
// Its namespace is shared by all users of the machine, hence the user id in the name.
HANDLE LockSocket(const char* name) {
    const std::string path = "rx300-updater." + std::to_string(getuid()) + "/" + name;
    sockaddr_un address{};
    if (path.size() + 1 > sizeof(address.sun_path)) {
        return Fail(-1);
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return Fail(-1);
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        return Handle(fd, ERROR_SUCCESS);
    }
    if (errno == EADDRINUSE) {
        close(fd);
        return Handle(-1, ERROR_ALREADY_EXISTS);
    }
    return Fail(fd);
}

}  // namespace

HANDLE CreateMutexA(void*, BOOL, const char* name) {
    if (name == nullptr || *name == '\0') {
        return Fail(-1);
    }
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && *runtimeDir != '\0') {
        return LockFile(std::string(runtimeDir) + "/" + name + ".lock");
    }
    return LockSocket(name);
}

DWORD GetLastError() {
    return t_lastError;
}

BOOL CloseHandle(HANDLE handle) {
    auto* lock = static_cast<SlotLock*>(handle);
    if (lock == nullptr) {
        return 0;
    }
    if (lock->fd >= 0) {
        close(lock->fd);
    }
    delete lock;
    return 1;
}
