#include "webext/ScriptClient.h"

namespace {

constexpr const char* kUnreachable = "window.external: the launcher cannot be reached";
constexpr const char* kTooLong = "window.external: the arguments are too long";
constexpr const char* kGarbled = "window.external: the launcher's answer was not understood";

}  // namespace

int ScriptClient::Lookup(const std::string& name) {
    auto reply = RoundTrip(ScriptWire::Lookup{name});
    if (const auto* answer = std::get_if<ScriptWire::Reply>(&reply)) {
        if (const auto* id = std::get_if<ScriptWire::DispatchId>(answer)) {
            return id->id;
        }
        m_stream.Close();  // a value where an id belongs: the line is out of step
    }
    return -1;
}

ScriptClient::CallResult ScriptClient::Call(int id, const std::vector<std::string>& args) {
    auto reply = RoundTrip(ScriptWire::Call{id, args});
    if (auto* failure = std::get_if<ScriptWire::Failure>(&reply)) {
        return std::move(*failure);
    }
    auto& answer = std::get<ScriptWire::Reply>(reply);
    if (auto* value = std::get_if<ScriptValue>(&answer)) {
        return std::move(*value);
    }
    if (auto* failure = std::get_if<ScriptWire::Failure>(&answer)) {
        return std::move(*failure);
    }
    m_stream.Close();
    return ScriptWire::Failure{kGarbled};
}

std::variant<ScriptWire::Reply, ScriptWire::Failure> ScriptClient::RoundTrip(const ScriptWire::Request& request) {
    const auto frame = ScriptWire::EncodeRequest(request);
    if (!frame) {
        return ScriptWire::Failure{kTooLong};
    }
    if (!m_stream.valid()) {
        m_stream = platform::LocalStream::Connect(m_socketPath);
    }
    if (!m_stream.valid() || !m_stream.SendAll(*frame)) {
        m_stream.Close();
        return ScriptWire::Failure{kUnreachable};
    }
    char header[ScriptWire::kHeaderBytes];
    if (!m_stream.ReceiveExact(header, sizeof header)) {
        m_stream.Close();
        return ScriptWire::Failure{kUnreachable};
    }
    const std::uint32_t length = ScriptWire::AnnouncedLength(header);
    if (length > ScriptWire::kMaxPayloadBytes) {
        m_stream.Close();
        return ScriptWire::Failure{kGarbled};
    }
    std::string payload(length, '\0');
    if (!m_stream.ReceiveExact(payload.data(), payload.size())) {
        m_stream.Close();
        return ScriptWire::Failure{kUnreachable};
    }
    auto reply = ScriptWire::DecodeReply(payload);
    if (!reply) {
        m_stream.Close();
        return ScriptWire::Failure{kGarbled};
    }
    return std::move(*reply);
}
