#include "platform/ShellLink.h"

#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/ErrorCodes.h"
#include "platform/win32/Wide.h"

namespace platform {
namespace {

// A failed COM call as a Windows error number: its own when it carries one.
std::uint32_t FromResult(HRESULT result) {
    if (HRESULT_FACILITY(result) == FACILITY_WIN32) {
        return static_cast<std::uint32_t>(HRESULT_CODE(result));
    }
    return kErrorGenFailure;
}

template <typename Interface>
void Release(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

}  // namespace

std::uint32_t SaveShellLink(const std::string& path, const ShellLink& link) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    // COM for this call alone; a thread already in a multithreaded apartment keeps it.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* shellLink = nullptr;
    IPersistFile* file = nullptr;
    HRESULT result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                        reinterpret_cast<void**>(&shellLink));
    // Only the target and the arguments: the link shows the program's own icon.
    if (SUCCEEDED(result)) {
        result = shellLink->SetPath(win32::WidePath(link.target).c_str());
    }
    if (SUCCEEDED(result)) {
        result = shellLink->SetArguments(win32::Widen(link.arguments).c_str());
    }
    if (SUCCEEDED(result)) {
        result = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    }
    if (SUCCEEDED(result)) {
        result = file->Save(win32::WidePath(path).c_str(), TRUE);
    }
    Release(file);
    Release(shellLink);
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    return SUCCEEDED(result) ? kErrorSuccess : FromResult(result);
}

}  // namespace platform
