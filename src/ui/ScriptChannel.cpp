#include "ui/ScriptChannel.h"

#include <fmt/printf.h>
#include <glib-unix.h>
#include <glib.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <list>
#include <utility>
#include <vector>

#include "core/Logger.h"
#include "platform/Env.h"
#include "platform/Executable.h"
#include "platform/LocalSocket.h"

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr guint kAcceptPauseMs = 200;
constexpr GIOCondition kReadable = static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR);
constexpr GIOCondition kWritable = static_cast<GIOCondition>(G_IO_OUT | G_IO_HUP | G_IO_ERR);

// A main-loop source watching one descriptor. Its handler gets the readiness; false removes
// the source. GLib never dispatches a source inside its own dispatch, so a handler that runs
// a nested main loop is not entered again for the same descriptor.
struct Watch {
    GSource source;
    gpointer tag;
    std::function<bool(GIOCondition)>* handler;
};

gboolean DispatchWatch(GSource* source, GSourceFunc, gpointer) {
    auto* watch = reinterpret_cast<Watch*>(source);
    // A copy: the handler may destroy this source, which must not pull the function from under it.
    auto handler = *watch->handler;
    return handler(g_source_query_unix_fd(source, watch->tag)) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

void FinalizeWatch(GSource* source) { delete reinterpret_cast<Watch*>(source)->handler; }

GSourceFuncs g_watchFuncs = {nullptr, nullptr, DispatchWatch, FinalizeWatch, nullptr, nullptr};

// The caller owns the returned reference.
GSource* AttachWatch(GMainContext* context, int fd, GIOCondition condition,
                     std::function<bool(GIOCondition)> handler) {
    GSource* source = g_source_new(&g_watchFuncs, sizeof(Watch));
    auto* watch = reinterpret_cast<Watch*>(source);
    watch->handler = new std::function<bool(GIOCondition)>(std::move(handler));
    watch->tag = g_source_add_unix_fd(source, fd, condition);
    g_source_attach(source, context);
    return source;
}

void SetCondition(GSource* source, GIOCondition condition) {
    g_source_modify_unix_fd(source, reinterpret_cast<Watch*>(source)->tag, condition);
}

void DropSource(GSource*& source) {
    if (source != nullptr) {
        g_source_destroy(source);
        g_source_unref(source);
        source = nullptr;
    }
}

// One web process's line. Owned by the channel's list and, while a request is answered, by
// the answering frame, so a line closed meanwhile is never freed under it.
struct Connection {
    explicit Connection(ScriptDispatcher& dispatcher) : session(dispatcher) {}

    platform::LocalStream stream;
    ScriptWire::ServerSession session;
    std::string unsent;   // the reply being written
    std::size_t sent = 0;  // how much of unsent has gone
    GSource* source = nullptr;
    bool closed = false;
};

// Writes what the socket takes now; false when the line is broken.
bool Flush(Connection& connection) {
    while (connection.sent < connection.unsent.size()) {
        const auto transfer =
            connection.stream.SendSome(std::string_view(connection.unsent).substr(connection.sent));
        if (transfer.status == platform::LocalStream::Status::Closed) {
            return false;
        }
        if (transfer.status == platform::LocalStream::Status::WouldBlock) {
            return true;
        }
        connection.sent += transfer.bytes;
    }
    connection.unsent.clear();
    connection.sent = 0;
    return true;
}

std::string ListenerBase() { return platform::RuntimeDir().value_or("/tmp"); }

}  // namespace

// Everything the channel's sources touch; lives while the channel or a running handler needs it.
// Owned by the thread that runs the context.
struct ScriptChannel::State {
    ScriptDispatcher* dispatcher = nullptr;
    GMainContext* context = nullptr;
    platform::LocalListener listener;
    GSource* listenSource = nullptr;
    GSource* acceptPause = nullptr;
    std::list<std::shared_ptr<Connection>> connections;
    std::vector<char> readBuffer = std::vector<char>(kReadChunk);
    bool stopped = false;

    ~State() { Stop(); }

    void Stop() {
        stopped = true;
        DropSource(acceptPause);
        DropSource(listenSource);
        while (!connections.empty()) {
            Close(connections.front());
        }
        listener.Close();
        if (context != nullptr) {
            g_main_context_unref(context);
            context = nullptr;
        }
    }

    void Close(std::shared_ptr<Connection> connection) {
        connection->closed = true;
        DropSource(connection->source);
        connection->stream.Close();
        connections.remove(connection);
    }

    bool OnListenerReady(const std::weak_ptr<State>& self) {
        for (;;) {
            auto acceptance = listener.Accept();
            switch (acceptance.outcome) {
                case platform::LocalListener::Outcome::NoneWaiting: return true;
                case platform::LocalListener::Outcome::Refused:
                    LOG_ERROR("ScriptChannel::Accept",
                              fmt::sprintf("refused a page connection from user %u", acceptance.peerUid));
                    continue;
                case platform::LocalListener::Outcome::Failed:
                    // Out of descriptors, most likely: stop looking for a moment rather than spin.
                    LOG_ERROR("ScriptChannel::Accept", "cannot accept a page connection");
                    PauseAccepting(self);
                    return true;
                case platform::LocalListener::Outcome::Accepted: Add(self, std::move(acceptance.stream)); continue;
            }
        }
    }

    void PauseAccepting(const std::weak_ptr<State>& self) {
        SetCondition(listenSource, static_cast<GIOCondition>(0));
        DropSource(acceptPause);
        acceptPause = g_timeout_source_new(kAcceptPauseMs);
        auto* weak = new std::weak_ptr<State>(self);
        g_source_set_callback(
            acceptPause,
            [](gpointer data) -> gboolean {
                if (auto state = static_cast<std::weak_ptr<State>*>(data)->lock(); state && !state->stopped) {
                    SetCondition(state->listenSource, kReadable);
                    g_source_unref(std::exchange(state->acceptPause, nullptr));
                }
                return G_SOURCE_REMOVE;
            },
            weak, [](gpointer data) { delete static_cast<std::weak_ptr<State>*>(data); });
        g_source_attach(acceptPause, context);
    }

    void Add(const std::weak_ptr<State>& self, platform::LocalStream stream) {
        auto connection = std::make_shared<Connection>(*dispatcher);
        connection->stream = std::move(stream);
        connection->source = AttachWatch(context, connection->stream.fd(), kReadable,
                                         [self, connection](GIOCondition ready) {
                                             auto state = self.lock();
                                             return state && state->Serve(connection, ready);
                                         });
        connections.push_back(std::move(connection));
    }

    // Reads what has arrived, answers each whole request in turn and writes the replies.
    // false once the line is closed.
    bool Serve(const std::shared_ptr<Connection>& connection, GIOCondition ready) {
        if (stopped || connection->closed) {
            return false;
        }
        bool ended = false;
        if (!connection->unsent.empty()) {
            // The web process is slow to take its reply; it has nothing else to say meanwhile.
            if ((ready & kWritable) == 0) {
                return true;
            }
            if (!Flush(*connection)) {
                Close(connection);
                return false;
            }
        } else {
            const auto transfer = connection->stream.ReceiveSome(readBuffer.data(), readBuffer.size());
            if (transfer.status == platform::LocalStream::Status::Ok) {
                connection->session.Receive(std::string_view(readBuffer.data(), transfer.bytes));
            } else if (transfer.status == platform::LocalStream::Status::Closed) {
                ended = true;
            }
        }
        while (connection->unsent.empty()) {
            auto step = connection->session.AnswerNext();  // may run a nested main loop
            if (stopped || connection->closed) {
                return false;  // closed meanwhile: the reply has nobody to go to
            }
            if (step.kind == ScriptWire::ServerSession::Step::Kind::Wait) {
                break;
            }
            if (step.kind == ScriptWire::ServerSession::Step::Kind::HangUp) {
                LOG_ERROR("ScriptChannel::Serve", step.text);
                Close(connection);
                return false;
            }
            connection->unsent = std::move(step.text);
            if (!Flush(*connection)) {
                Close(connection);
                return false;
            }
        }
        if (ended) {
            Close(connection);
            return false;
        }
        SetCondition(connection->source, connection->unsent.empty() ? kReadable : kWritable);
        return true;
    }
};

ScriptChannel::ScriptChannel(ScriptDispatcher& dispatcher, GMainContext* context)
    : m_state(std::make_shared<State>()) {
    m_state->dispatcher = &dispatcher;
    m_state->context = g_main_context_ref(context != nullptr ? context : g_main_context_default());
    // The runtime folder may be too long to hold a socket address; /tmp never is.
    m_state->listener = platform::LocalListener::Create(ListenerBase(), "valdrune-page");
    if (!m_state->listener.valid()) {
        m_state->listener = platform::LocalListener::Create("/tmp", "valdrune-page");
    }
    if (!m_state->listener.valid()) {
        LOG_ERROR("ScriptChannel::ScriptChannel", "cannot open the page bridge socket");
        return;
    }
    LOG_INFO("ScriptChannel::ScriptChannel", fmt::sprintf("page bridge at %s", m_state->listener.path()));
    std::weak_ptr<State> self = m_state;
    m_state->listenSource = AttachWatch(m_state->context, m_state->listener.fd(), kReadable,
                                        [self](GIOCondition) {
                                            auto state = self.lock();
                                            return state && !state->stopped && state->OnListenerReady(self);
                                        });
}

ScriptChannel::~ScriptChannel() { m_state->Stop(); }

bool ScriptChannel::IsListening() const { return m_state->listener.valid(); }

const std::string& ScriptChannel::SocketPath() const { return m_state->listener.path(); }

GVariant* ScriptChannel::ExtensionData() const { return g_variant_new_string(SocketPath().c_str()); }

void ScriptChannel::AttachTo(WebKitWebContext* webContext, const std::string& extensionsDir) const {
    struct Settings {
        std::string folder;
        std::string socketPath;
    };
    auto* settings = new Settings{
        extensionsDir.empty() ? platform::FolderOf(platform::ExecutablePath()) : extensionsDir, SocketPath()};
    g_signal_connect_data(
        webContext, "initialize-web-extensions",
        G_CALLBACK(+[](WebKitWebContext* web, gpointer data) {
            const auto* s = static_cast<const Settings*>(data);
            webkit_web_context_set_web_extensions_directory(web, s->folder.c_str());
            webkit_web_context_set_web_extensions_initialization_user_data(web,
                                                                           g_variant_new_string(s->socketPath.c_str()));
        }),
        settings, [](gpointer data, GClosure*) { delete static_cast<Settings*>(data); }, static_cast<GConnectFlags>(0));
}
