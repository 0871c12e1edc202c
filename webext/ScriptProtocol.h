#pragma once
// What the page's window.external and the launcher say to each other. The extension in the
// page engine's web process asks; the launcher answers through a ScriptDispatcher.
//
// Every message is one frame: the payload's length as 4 bytes, most significant first, then the
// payload, whose first byte names its kind. Integers are 4 bytes, most significant first; a text
// is its length as such an integer followed by its bytes, taken as they are. Nothing on either
// side ever parses a text as script or markup, so quotes, backslashes, line breaks, "</script>",
// NUL and non-ASCII text all arrive unchanged.
//
//   requests   'N' text                    the dispatch id of the member with this name
//              'C' id, count, count texts  call member id with these arguments, in script order
//   replies    'D' id                      the id asked for; -1 when there is no such member
//              'U'                         no value: the script sees undefined
//              'S' text                    a string
//              'B' one byte, 0 or 1        a boolean
//              'F' text                    the call could not be made; the script sees an Error
//
// A payload longer than kMaxPayloadBytes is refused by both sides, so a confused or hostile peer
// can make neither side buffer without bound.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// A value the launcher hands back to the page: nothing (undefined), a string or a boolean. The
// same type as the bridge's own (bridge/ScriptCalls.h), so its answers pass through unchanged.
using ScriptValue = std::variant<std::monostate, std::string, bool>;

// The launcher's side of window.external: its members by name and the calls to them. Called on
// the thread that serves the page bridge (the window thread).
class ScriptDispatcher {
public:
    virtual ~ScriptDispatcher() = default;

    // The dispatch id of the member the page names (exact, case-sensitive), or -1 for none.
    virtual int Lookup(const std::string& name) = 0;

    // Calls member id with the page's arguments in script order, the first argument first. May
    // take as long as it needs and may run a nested main loop (a message box).
    virtual ScriptValue Invoke(int id, const std::vector<std::string>& args) = 0;
};

namespace ScriptWire {

inline constexpr std::size_t kHeaderBytes = 4;
inline constexpr std::size_t kMaxPayloadBytes = 8u << 20;

struct Lookup {
    std::string name;
    bool operator==(const Lookup&) const = default;
};
struct Call {
    int id = -1;
    std::vector<std::string> args;  // script order
    bool operator==(const Call&) const = default;
};
using Request = std::variant<Lookup, Call>;

struct DispatchId {
    int id = -1;
    bool operator==(const DispatchId&) const = default;
};
struct Failure {
    std::string message;
    bool operator==(const Failure&) const = default;
};
using Reply = std::variant<DispatchId, ScriptValue, Failure>;

// The whole frame (header and payload), or nullopt when the payload would be too long.
std::optional<std::string> EncodeRequest(const Request& request);
std::optional<std::string> EncodeReply(const Reply& reply);

// A payload (without its header) back into a message; nullopt for anything malformed: an
// unknown kind, a text or count running past the end, a boolean other than 0 or 1, bytes left
// over.
std::optional<Request> DecodeRequest(std::string_view payload);
std::optional<Reply> DecodeReply(std::string_view payload);

// The payload length a frame header announces.
std::uint32_t AnnouncedLength(const char (&header)[kHeaderBytes]);

// Cuts a byte stream into frame payloads, however the bytes arrive.
class FrameReader {
public:
    void Append(std::string_view bytes);

    // The next whole payload; nullopt while it is incomplete, and for good once Refused().
    std::optional<std::string> Next();

    // A header announced more than kMaxPayloadBytes: nothing after it can be trusted.
    bool Refused() const { return m_refused; }

private:
    std::string m_buffer;
    std::size_t m_offset = 0;  // start of the first unread frame in m_buffer
    bool m_refused = false;
};

// The reply frame to one request payload, from dispatcher; nullopt for a malformed request, to
// which the only answer is hanging up. A value too long to send becomes a Failure.
std::optional<std::string> Answer(ScriptDispatcher& dispatcher, std::string_view requestPayload);

// The launcher's side of one web process's line, whatever the bytes that arrive: frames are cut
// from them and each whole request is answered in turn, until the peer breaks the protocol and
// the only answer left is hanging up. Knows nothing of sockets or main loops.
class ServerSession {
public:
    explicit ServerSession(ScriptDispatcher& dispatcher) : m_dispatcher(dispatcher) {}

    // Bytes as they came off the line, cut anywhere.
    void Receive(std::string_view bytes) { m_reader.Append(bytes); }

    struct Step {
        enum class Kind { Wait, Send, HangUp } kind = Kind::Wait;
        std::string text;  // Send: the whole reply frame; HangUp: why, for the log
    };
    // Answers the next whole request that has arrived (Send), or Wait while none has. HangUp
    // for a malformed request or an oversized announcement, and for good after that. The
    // dispatcher may run a nested main loop in here.
    Step AnswerNext();

private:
    ScriptDispatcher& m_dispatcher;
    FrameReader m_reader;
    bool m_hungUp = false;
};

}  // namespace ScriptWire
