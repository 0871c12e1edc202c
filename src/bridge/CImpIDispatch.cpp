#include "bridge/CImpIDispatch.h"

using namespace automation;

namespace {

// Every argument is read as a string; the page only ever passes strings, and anything else
// (a number, an object, a missing value) reads as an empty text.
const std::string& ArgumentText(const VARIANT& argument) { return argument.bstrVal(); }

void StoreString(VARIANT* result, std::string text) {
    if (result != nullptr) {
        result->Clear();
        *result = VARIANT::String(std::move(text));
    }
}

}  // namespace

HRESULT CImpIDispatch::QueryInterface(const IID& iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (iid != IID_IDispatch) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
}

ULONG CImpIDispatch::AddRef() { return static_cast<ULONG>(++m_refCount); }

ULONG CImpIDispatch::Release() { return static_cast<ULONG>(--m_refCount); }

HRESULT CImpIDispatch::GetTypeInfoCount(unsigned*) { return E_NOTIMPL; }

HRESULT CImpIDispatch::GetTypeInfo(unsigned, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT CImpIDispatch::GetIDsOfNames(const IID&, const std::string* names, unsigned count, LCID, DISPID* ids) {
    if (count > 0 && (names == nullptr || ids == nullptr)) {
        return E_POINTER;
    }
    HRESULT status = S_OK;
    for (unsigned i = 0; i < count; ++i) {
        const std::string& name = names[0];
        if (name == "JavascriptToCsharp") {
            ids[i] = kDispJavascriptToCsharp;
        } else if (name == "AppLogin") {
            ids[i] = kDispAppLogin;
        } else if (name == "IsDownLoadComplete") {
            ids[i] = kDispIsDownLoadComplete;
        } else {
            ids[i] = DISPID_UNKNOWN;
            status = DISP_E_UNKNOWNNAME;
        }
    }
    return status;
}

HRESULT CImpIDispatch::Invoke(DISPID id, const IID&, LCID, WORD, const DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO*, unsigned*) {
    static const DISPPARAMS kNoArguments;
    const std::vector<VARIANT>& args = (params != nullptr ? *params : kNoArguments).rgvarg;
    ScriptHost* mainWindow = m_mainWindow.load();

    switch (id) {
        case kDispJavascriptToCsharp: {
            if (args.size() < 2) {
                return S_OK;
            }
            // Last script argument first: the method name is the first script argument.
            const std::string& method = ArgumentText(args[args.size() - 1]);
            const std::string& parameters = ArgumentText(args[args.size() - 2]);
            StoreString(result, mainWindow != nullptr ? mainWindow->JavascriptToCPLUSPLUS(method, parameters)
                                                      : std::string());
            return S_OK;
        }
        case kDispAppLogin: {
            if (args.empty()) {
                return S_OK;
            }
            const std::string& login = ArgumentText(args[0]);  // the last script argument
            StoreString(result,
                        mainWindow != nullptr ? mainWindow->JavascriptToCPLUSPLUS("LoginResult", login) : std::string());
            return S_OK;
        }
        case kDispIsDownLoadComplete:
            if (result != nullptr) {
                result->Clear();
                *result = VARIANT::Bool(mainWindow != nullptr && mainWindow->IsDownLoadComplete() ? 1 : 0);
            }
            return S_OK;
        default:
            return S_OK;
    }
}
