#include "bridge/ScriptCalls.h"

using namespace automation;

std::optional<DISPID> LookUpScriptName(IDispatch& object, const std::string& name) {
    DISPID id = DISPID_UNKNOWN;
    if (object.GetIDsOfNames(IID_NULL, &name, 1, 0, &id) != S_OK || id == DISPID_UNKNOWN) {
        return std::nullopt;
    }
    return id;
}

ScriptValue InvokeScriptMember(IDispatch& object, DISPID id, const std::vector<std::string>& scriptArguments) {
    DISPPARAMS params;
    params.rgvarg.reserve(scriptArguments.size());
    for (auto it = scriptArguments.rbegin(); it != scriptArguments.rend(); ++it) {
        params.rgvarg.push_back(VARIANT::String(*it));
    }
    VARIANT result;
    EXCEPINFO exception;
    unsigned argError = 0;
    object.Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &exception, &argError);
    switch (result.vt()) {
        case VT_BSTR:
            return result.bstrVal();
        case VT_BOOL:
            return result.boolVal() != 0;
        default:
            return std::monostate{};
    }
}
