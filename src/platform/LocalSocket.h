#pragma once
// Local stream sockets (AF_UNIX) between processes of one user: the line between the page
// engine's web process, where the page's window.external lives, and the launcher.

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// One end of a connected local stream, closed when destroyed. Nothing it sends raises SIGPIPE,
// and it is never inherited by child processes.
class LocalStream {
public:
    LocalStream() = default;
    explicit LocalStream(int fd) : m_fd(fd) {}
    LocalStream(LocalStream&& other) noexcept;
    LocalStream& operator=(LocalStream&& other) noexcept;
    LocalStream(const LocalStream&) = delete;
    LocalStream& operator=(const LocalStream&) = delete;
    ~LocalStream();

    // Connects to the socket at path (blocking); an invalid stream when nobody listens there.
    static LocalStream Connect(const std::string& path);

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void Close();

    // Blocking transfers: true once every byte has gone or arrived; false on an error or when
    // the other end has closed.
    bool SendAll(std::string_view bytes);
    bool ReceiveExact(char* buffer, std::size_t length);

    // Non-blocking transfers for a stream served from a main loop (accepted streams start
    // non-blocking; SetBlocking switches between the two kinds).
    enum class Status { Ok, WouldBlock, Closed };  // Closed: end of stream or an error
    struct Transfer {
        Status status;
        std::size_t bytes;
    };
    bool SetBlocking(bool blocking);
    Transfer ReceiveSome(char* buffer, std::size_t capacity);
    Transfer SendSome(std::string_view bytes);

private:
    int m_fd = -1;
};

// A listening local socket "<folder>/socket" in a fresh folder that only this user may enter.
// Folder and socket are removed when the listener is destroyed.
class LocalListener {
public:
    LocalListener() = default;
    LocalListener(LocalListener&& other) noexcept;
    LocalListener& operator=(LocalListener&& other) noexcept;
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;
    ~LocalListener();

    // Makes the folder "<base>/<prefix>-XXXXXX" (mode 0700) and listens in it. Invalid when
    // base is unusable or the socket path would be too long for a local socket address.
    static LocalListener Create(const std::string& base, const std::string& prefix);

    bool valid() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    const std::string& folder() const { return m_folder; }

    enum class Outcome { Accepted, NoneWaiting, Refused, Failed };
    struct Acceptance {
        Outcome outcome = Outcome::Failed;
        LocalStream stream;         // Accepted: non-blocking, ready to serve
        unsigned peerUid = 0;       // Accepted or Refused: the connecting process's user
    };
    // Takes one waiting connection without blocking. A peer that runs as another user than
    // this process is Refused and disconnected: the folder's mode keeps strangers out, and
    // this check holds even when someone loosens it.
    Acceptance Accept();

    void Close();

private:
    int m_fd = -1;
    std::string m_folder;
    std::string m_path;
};

}  // namespace platform
