#pragma once
// The page's window.external: a late-binding automation object with three methods. It owns no
// logic; every call goes to the main window, which passes it on to the overlay.

#include <atomic>
#include <string>

#include "bridge/Automation.h"

// What the page's object reaches through the main window (CWebDlg). Called on the thread that
// serves the page's calls, the window thread.
class ScriptHost {
public:
    virtual ~ScriptHost() = default;
    // CWebDlg::JavascriptToCPLUSPLUS. May start the game and return only after it has ended.
    virtual std::string JavascriptToCPLUSPLUS(const std::string& method, const std::string& parameters) = 0;
    // The overlay's ready flag, read for "IsDownLoadComplete".
    virtual bool IsDownLoadComplete() = 0;
};

inline constexpr automation::DISPID kDispJavascriptToCsharp = 1;
inline constexpr automation::DISPID kDispAppLogin = 2;
inline constexpr automation::DISPID kDispIsDownLoadComplete = 3;

class CImpIDispatch final : public automation::IDispatch {
public:
    CImpIDispatch() = default;
    ~CImpIDispatch() override = default;
    CImpIDispatch(const CImpIDispatch&) = delete;
    CImpIDispatch& operator=(const CImpIDispatch&) = delete;

    // The application's main window (GetMainWnd); null while there is none, and then the page's
    // calls are answered with empty strings and false. Not owned.
    void SetMainWindow(ScriptHost* mainWindow) { m_mainWindow.store(mainWindow); }

    // Only IID_IDispatch is answered; IID_IUnknown included, everything else is E_NOINTERFACE.
    automation::HRESULT QueryInterface(const automation::IID& iid, void** object) override;
    // Count the references and return the new count; the count never destroys the object, whose
    // owner is the application.
    automation::ULONG AddRef() override;
    automation::ULONG Release() override;

    automation::HRESULT GetTypeInfoCount(unsigned* count) override;
    automation::HRESULT GetTypeInfo(unsigned index, automation::LCID locale, automation::ITypeInfo** typeInfo) override;
    // The first name alone decides every slot: 1, 2, 3, or DISPID_UNKNOWN and DISP_E_UNKNOWNNAME.
    automation::HRESULT GetIDsOfNames(const automation::IID& iid, const std::string* names, unsigned count,
                                      automation::LCID locale, automation::DISPID* ids) override;
    // Always S_OK. Too few arguments and unknown ids leave result untouched.
    automation::HRESULT Invoke(automation::DISPID id, const automation::IID& iid, automation::LCID locale,
                               automation::WORD flags, const automation::DISPPARAMS* params,
                               automation::VARIANT* result, automation::EXCEPINFO* exception,
                               unsigned* argError) override;

    std::int32_t RefCount() const { return m_refCount.load(); }

private:
    std::atomic<std::int32_t> m_refCount{0};
    std::atomic<ScriptHost*> m_mainWindow{nullptr};
};
