#include "platform/LocalSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace platform {
namespace {

// Fills address with path; false when the path does not fit (sun_path holds 108 bytes).
bool MakeAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

}  // namespace

LocalStream::LocalStream(LocalStream&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

LocalStream& LocalStream::operator=(LocalStream&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

LocalStream::~LocalStream() { Close(); }

void LocalStream::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

LocalStream LocalStream::Connect(const std::string& path) {
    sockaddr_un address;
    if (!MakeAddress(path, address)) {
        return LocalStream();
    }
    LocalStream stream(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!stream.valid()) {
        return stream;
    }
    int rc;
    do {
        rc = ::connect(stream.m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        stream.Close();
    }
    return stream;
}

bool LocalStream::SendAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool LocalStream::ReceiveExact(char* buffer, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::recv(m_fd, buffer, length, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        buffer += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool LocalStream::SetBlocking(bool blocking) {
    const int flags = ::fcntl(m_fd, F_GETFL);
    return flags >= 0 && ::fcntl(m_fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

LocalStream::Transfer LocalStream::ReceiveSome(char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, capacity, 0);
        if (n > 0) {
            return {Status::Ok, static_cast<std::size_t>(n)};
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return {n < 0 && WouldBlock(errno) ? Status::WouldBlock : Status::Closed, 0};
    }
}

LocalStream::Transfer LocalStream::SendSome(std::string_view bytes) {
    for (;;) {
        const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n >= 0) {
            return {Status::Ok, static_cast<std::size_t>(n)};
        }
        if (errno == EINTR) {
            continue;
        }
        return {WouldBlock(errno) ? Status::WouldBlock : Status::Closed, 0};
    }
}

LocalListener::LocalListener(LocalListener&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)),
      m_folder(std::exchange(other.m_folder, {})),
      m_path(std::exchange(other.m_path, {})) {}

LocalListener& LocalListener::operator=(LocalListener&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
        m_folder = std::exchange(other.m_folder, {});
        m_path = std::exchange(other.m_path, {});
    }
    return *this;
}

LocalListener::~LocalListener() { Close(); }

void LocalListener::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_path.empty()) {
        ::unlink(m_path.c_str());
        m_path.clear();
    }
    if (!m_folder.empty()) {
        ::rmdir(m_folder.c_str());
        m_folder.clear();
    }
}

LocalListener LocalListener::Create(const std::string& base, const std::string& prefix) {
    LocalListener listener;
    std::string folder = base + "/" + prefix + "-XXXXXX";
    sockaddr_un address;
    // Check the length before making anything, so a refusal leaves nothing behind.
    if (base.empty() || !MakeAddress(folder + "/socket", address)) {
        return listener;
    }
    if (::mkdtemp(folder.data()) == nullptr) {  // mode 0700, a name nobody else has taken
        return listener;
    }
    listener.m_folder = folder;
    listener.m_path = folder + "/socket";
    MakeAddress(listener.m_path, address);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        listener.Close();
        return listener;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        listener.Close();
        return listener;
    }
    listener.m_fd = fd;
    return listener;
}

LocalListener::Acceptance LocalListener::Accept() {
    Acceptance result;
    int fd;
    do {
        fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        // A client that gave up before being accepted is no failure of the listener.
        result.outcome = WouldBlock(errno) || errno == ECONNABORTED ? Outcome::NoneWaiting : Outcome::Failed;
        return result;
    }
    LocalStream stream(fd);
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) {
        result.outcome = Outcome::Refused;
        result.peerUid = static_cast<unsigned>(-1);
        return result;
    }
    result.peerUid = peer.uid;
    if (peer.uid != ::getuid()) {
        result.outcome = Outcome::Refused;
        return result;
    }
    result.outcome = Outcome::Accepted;
    result.stream = std::move(stream);
    return result;
}

}  // namespace platform
