#pragma once
// The page's calls as they arrive from the web process, one member name or one invocation at a
// time, translated into the automation object's own calling convention and back.

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "bridge/Automation.h"
#include "webext/ScriptProtocol.h"

// What a call gives back to the script: nothing (undefined), a string or a boolean.
using ScriptValue = std::variant<std::monostate, std::string, bool>;

// The dispatch id of one member name, or nullopt when the object has no such member.
std::optional<automation::DISPID> LookUpScriptName(automation::IDispatch& object, const std::string& name);

// Calls member id with the string arguments in script order (they are handed over last-first,
// as the automation convention has it) and converts the result.
ScriptValue InvokeScriptMember(automation::IDispatch& object, automation::DISPID id,
                               const std::vector<std::string>& scriptArguments);

// The page's calls as the page bridge hands them over, answered by an automation object (the
// application's m_pDispatch), which must outlive it.
class AutomationScriptDispatcher final : public ScriptDispatcher {
public:
    explicit AutomationScriptDispatcher(automation::IDispatch& object) : m_object(object) {}
    int Lookup(const std::string& name) override { return LookUpScriptName(m_object, name).value_or(-1); }
    ScriptValue Invoke(int id, const std::vector<std::string>& args) override {
        return InvokeScriptMember(m_object, id, args);
    }

private:
    automation::IDispatch& m_object;
};
