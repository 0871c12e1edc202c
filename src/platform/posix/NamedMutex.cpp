#include "platform/NamedMutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/Env.h"
#include "platform/posix/Linux.h"

namespace platform {

void NamedMutex::Close() {
    if (m_handle >= 0) {
        ::close(static_cast<int>(m_handle));
        m_handle = -1;
    }
}

std::string LockFilePath(const std::string& name) {
    if (auto runtime = RuntimeDir()) {
        return *runtime + "/" + name + ".lock";
    }
    return "/tmp/" + name + "-" + std::to_string(::getuid()) + ".lock";
}

NamedMutex NamedMutex::Create(const std::string& name) {
    NamedMutex mutex;
    // O_NOFOLLOW: the /tmp fallback must not be redirected by someone else's symbolic link.
    const int fd = ::open(LockFilePath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return mutex;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        mutex.m_handle = fd;
        mutex.m_state = State::Created;
    } else if (errno == EWOULDBLOCK) {
        ::close(fd);
        mutex.m_state = State::AlreadyExists;
    } else {
        ::close(fd);
    }
    return mutex;
}

}  // namespace platform
