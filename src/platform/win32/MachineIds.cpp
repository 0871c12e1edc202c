#include "platform/MachineIds.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

template <typename Interface>
void Release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// The SerialNumber of the last object of one WMI class; a value that is not text reads as empty.
bool ReadSerial(IWbemServices* services, const wchar_t* query, std::string& serial) {
    BSTR language = ::SysAllocString(L"WQL");
    BSTR text = ::SysAllocString(query);
    IEnumWbemClassObject* objects = nullptr;
    const HRESULT result = services->ExecQuery(
        language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &objects);
    ::SysFreeString(text);
    ::SysFreeString(language);
    if (FAILED(result)) {
        return false;
    }
    for (;;) {
        IWbemClassObject* object = nullptr;
        ULONG returned = 0;
        if (FAILED(objects->Next(static_cast<LONG>(WBEM_INFINITE), 1, &object, &returned)) || returned == 0) {
            break;
        }
        VARIANT value;
        ::VariantInit(&value);
        serial.clear();
        if (SUCCEEDED(object->Get(L"SerialNumber", 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR &&
            value.bstrVal != nullptr) {
            serial = win32::Narrow(value.bstrVal);
        }
        ::VariantClear(&value);
        object->Release();
    }
    Release(objects);
    return true;
}

}  // namespace

MachineSerials ReadMachineSerials() {
    // COM for this thread alone, multithreaded when the thread has no apartment yet.
    HRESULT com = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com) && com != RPC_E_CHANGED_MODE) {
        com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    const bool uninitialize = SUCCEEDED(com);
    // The process's security may have been set up before (then this call fails): the queries
    // go on with what is in place rather than losing the identity.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_NONE, nullptr);

    MachineSerials serials;
    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    BSTR space = ::SysAllocString(L"ROOT\\CIMV2");
    if (SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                     reinterpret_cast<void**>(&locator))) &&
        SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services)) &&
        SUCCEEDED(::CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
        std::string board, bios, system;
        if (ReadSerial(services, L"SELECT * FROM Win32_BaseBoard", board) &&
            ReadSerial(services, L"SELECT * FROM Win32_BIOS", bios) &&
            ReadSerial(services, L"SELECT * FROM Win32_OperatingSystem", system)) {
            serials = {board, bios, system};
        }
    }
    ::SysFreeString(space);
    Release(services);
    Release(locator);
    if (uninitialize) {
        ::CoUninitialize();
    }
    return serials;
}

}  // namespace platform
