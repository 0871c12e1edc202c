#include "webext/ScriptProtocol.h"

namespace ScriptWire {
namespace {

constexpr char kLookup = 'N';
constexpr char kCall = 'C';
constexpr char kDispatchId = 'D';
constexpr char kEmpty = 'U';
constexpr char kString = 'S';
constexpr char kBoolean = 'B';
constexpr char kFailure = 'F';

class Writer {
public:
    explicit Writer(char kind) : m_bytes(kHeaderBytes, '\0') { m_bytes += kind; }

    void Integer(std::uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            m_bytes += static_cast<char>((value >> shift) & 0xFF);
        }
    }
    void Text(std::string_view text) {
        Integer(static_cast<std::uint32_t>(text.size()));
        m_bytes += text;
    }
    void Byte(char value) { m_bytes += value; }

    // The frame with its header filled in, or nullopt when the payload is too long.
    std::optional<std::string> Finish() && {
        const std::size_t length = m_bytes.size() - kHeaderBytes;
        if (length > kMaxPayloadBytes) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < kHeaderBytes; ++i) {
            m_bytes[i] = static_cast<char>((length >> (8 * (kHeaderBytes - 1 - i))) & 0xFF);
        }
        return std::move(m_bytes);
    }

private:
    std::string m_bytes;
};

// Reads a payload front to back; every read fails once the payload has run out.
class Reader {
public:
    explicit Reader(std::string_view payload) : m_rest(payload) {}

    std::optional<std::uint32_t> Integer() {
        if (m_rest.size() < 4) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value = (value << 8) | static_cast<unsigned char>(m_rest[i]);
        }
        m_rest.remove_prefix(4);
        return value;
    }
    std::optional<std::string> Text() {
        const auto length = Integer();
        if (!length || *length > m_rest.size()) {
            return std::nullopt;
        }
        std::string text(m_rest.substr(0, *length));
        m_rest.remove_prefix(*length);
        return text;
    }
    std::optional<char> Byte() {
        if (m_rest.empty()) {
            return std::nullopt;
        }
        const char value = m_rest.front();
        m_rest.remove_prefix(1);
        return value;
    }
    bool AtEnd() const { return m_rest.empty(); }
    std::size_t Left() const { return m_rest.size(); }

private:
    std::string_view m_rest;
};

// A message is only taken when the payload holds exactly it and nothing more.
template <typename T>
std::optional<T> Whole(const Reader& reader, T message) {
    return reader.AtEnd() ? std::optional<T>(std::move(message)) : std::nullopt;
}

}  // namespace

std::optional<std::string> EncodeRequest(const Request& request) {
    if (const auto* lookup = std::get_if<Lookup>(&request)) {
        Writer writer(kLookup);
        writer.Text(lookup->name);
        return std::move(writer).Finish();
    }
    const auto& call = std::get<Call>(request);
    std::size_t total = 0;
    for (const auto& arg : call.args) {
        total += arg.size();
        if (total > kMaxPayloadBytes) {
            return std::nullopt;  // refuse before copying megabytes only to drop them
        }
    }
    Writer writer(kCall);
    writer.Integer(static_cast<std::uint32_t>(call.id));
    writer.Integer(static_cast<std::uint32_t>(call.args.size()));
    for (const auto& arg : call.args) {
        writer.Text(arg);
    }
    return std::move(writer).Finish();
}

std::optional<std::string> EncodeReply(const Reply& reply) {
    if (const auto* id = std::get_if<DispatchId>(&reply)) {
        Writer writer(kDispatchId);
        writer.Integer(static_cast<std::uint32_t>(id->id));
        return std::move(writer).Finish();
    }
    if (const auto* failure = std::get_if<Failure>(&reply)) {
        Writer writer(kFailure);
        writer.Text(failure->message);
        return std::move(writer).Finish();
    }
    const auto& value = std::get<ScriptValue>(reply);
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (text->size() > kMaxPayloadBytes) {
            return std::nullopt;  // refuse before copying megabytes only to drop them
        }
        Writer writer(kString);
        writer.Text(*text);
        return std::move(writer).Finish();
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        Writer writer(kBoolean);
        writer.Byte(*flag ? 1 : 0);
        return std::move(writer).Finish();
    }
    return Writer(kEmpty).Finish();
}

std::optional<Request> DecodeRequest(std::string_view payload) {
    Reader reader(payload);
    const auto kind = reader.Byte();
    if (kind == kLookup) {
        auto name = reader.Text();
        return name ? Whole<Request>(reader, Lookup{std::move(*name)}) : std::nullopt;
    }
    if (kind != kCall) {
        return std::nullopt;
    }
    const auto id = reader.Integer();
    const auto count = reader.Integer();
    // Every argument takes at least its 4-byte length: a count beyond that is a lie, and is
    // refused before it can size anything.
    if (!id || !count || *count > reader.Left() / 4) {
        return std::nullopt;
    }
    Call call{static_cast<int>(*id), {}};
    call.args.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        auto arg = reader.Text();
        if (!arg) {
            return std::nullopt;
        }
        call.args.push_back(std::move(*arg));
    }
    return Whole<Request>(reader, std::move(call));
}

std::optional<Reply> DecodeReply(std::string_view payload) {
    Reader reader(payload);
    const auto kind = reader.Byte();
    if (!kind) {
        return std::nullopt;
    }
    switch (*kind) {
        case kDispatchId: {
            const auto id = reader.Integer();
            return id ? Whole<Reply>(reader, DispatchId{static_cast<int>(*id)}) : std::nullopt;
        }
        case kEmpty: return Whole<Reply>(reader, ScriptValue{});
        case kString: {
            auto text = reader.Text();
            return text ? Whole<Reply>(reader, ScriptValue{std::move(*text)}) : std::nullopt;
        }
        case kBoolean: {
            const auto flag = reader.Byte();
            if (!flag || (*flag != 0 && *flag != 1)) {
                return std::nullopt;
            }
            return Whole<Reply>(reader, ScriptValue{*flag == 1});
        }
        case kFailure: {
            auto message = reader.Text();
            return message ? Whole<Reply>(reader, Failure{std::move(*message)}) : std::nullopt;
        }
        default: return std::nullopt;
    }
}

std::uint32_t AnnouncedLength(const char (&header)[kHeaderBytes]) {
    std::uint32_t length = 0;
    for (const char byte : header) {
        length = (length << 8) | static_cast<unsigned char>(byte);
    }
    return length;
}

void FrameReader::Append(std::string_view bytes) {
    if (m_refused) {
        return;
    }
    // Drop what has been handed out before growing, so the buffer never holds more than about
    // one frame and the bytes of one read.
    if (m_offset > 0) {
        m_buffer.erase(0, m_offset);
        m_offset = 0;
    }
    m_buffer += bytes;
}

std::optional<std::string> FrameReader::Next() {
    if (m_refused || m_buffer.size() - m_offset < kHeaderBytes) {
        return std::nullopt;
    }
    char header[kHeaderBytes];
    m_buffer.copy(header, kHeaderBytes, m_offset);
    const std::uint32_t length = AnnouncedLength(header);
    if (length > kMaxPayloadBytes) {
        m_refused = true;
        m_buffer.clear();
        m_offset = 0;
        return std::nullopt;
    }
    if (m_buffer.size() - m_offset - kHeaderBytes < length) {
        return std::nullopt;
    }
    std::string payload = m_buffer.substr(m_offset + kHeaderBytes, length);
    m_offset += kHeaderBytes + length;
    return payload;
}

std::optional<std::string> Answer(ScriptDispatcher& dispatcher, std::string_view requestPayload) {
    auto request = DecodeRequest(requestPayload);
    if (!request) {
        return std::nullopt;
    }
    if (const auto* lookup = std::get_if<Lookup>(&*request)) {
        return EncodeReply(DispatchId{dispatcher.Lookup(lookup->name)});
    }
    const auto& call = std::get<Call>(*request);
    if (auto frame = EncodeReply(dispatcher.Invoke(call.id, call.args))) {
        return frame;
    }
    return EncodeReply(Failure{"window.external: the launcher's answer is too long"});
}

ServerSession::Step ServerSession::AnswerNext() {
    if (m_hungUp) {
        return {Step::Kind::HangUp, "the page connection has been hung up on"};
    }
    auto request = m_reader.Next();
    if (!request) {
        if (!m_reader.Refused()) {
            return {};
        }
        m_hungUp = true;
        return {Step::Kind::HangUp, "hung up on a page connection that announced an oversized request"};
    }
    auto reply = Answer(m_dispatcher, *request);
    if (!reply) {
        m_hungUp = true;
        return {Step::Kind::HangUp, "hung up on a page connection that sent a malformed request"};
    }
    return {Step::Kind::Send, std::move(*reply)};
}

}  // namespace ScriptWire
