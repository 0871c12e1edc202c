#include "platform/MessageBox.h"

#include "platform/win32/Wide.h"

namespace platform {
namespace {

// MessageBoxW with no owner window; the flags are the system's own, so they pass unchanged.
class SystemMessageBox final : public MessagePresenter {
public:
    int Present(const MessageBoxRequest& request) override {
        return ::MessageBoxW(nullptr, win32::Widen(request.text).c_str(), win32::Widen(request.caption).c_str(),
                             request.type);
    }
};

}  // namespace

MessagePresenter& SystemPresenter() {
    static SystemMessageBox box;
    return box;
}

}  // namespace platform
