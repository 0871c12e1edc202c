#pragma once
// Carries work from any thread onto the window thread: the thread that runs the GLib default
// main context (GTK's). The update worker waits for what it sends; posted work returns at once.
// Once the window is gone (Close), queued work is dropped and waiting senders are released, so
// a worker that outlives the window never blocks on it.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class WindowThread : public std::enable_shared_from_this<WindowThread> {
  public:
    // The calling thread becomes the window thread.
    static std::shared_ptr<WindowThread> Create();

    bool IsCurrent() const { return std::this_thread::get_id() == m_thread; }

    // Runs work on the window thread and returns once it has run, or once Close has been called.
    // On the window thread itself it runs at once. False when the work did not run.
    bool Send(std::function<void()> work);

    // Queues work for the window thread and returns at once; it is dropped if Close comes first.
    void Post(std::function<void()> work);

    // Window thread only: from now on work is dropped and every waiting sender is released.
    void Close();
    bool IsClosed() const;

  private:
    struct Call;
    WindowThread();
    void Queue(std::shared_ptr<Call> call);
    static int Dispatch(void* data);

    const std::thread::id m_thread;
    mutable std::mutex m_mutex;  // guards m_closed and every Call's done flag
    std::condition_variable m_done;
    bool m_closed = false;
};
