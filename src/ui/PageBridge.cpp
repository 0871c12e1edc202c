#include "ui/PageBridge.h"

#include <mutex>

namespace page_bridge {
namespace {

std::mutex g_mutex;  // the source is set at start-up and read on the window thread
ExtensionDataSource g_source;

}  // namespace

void SetExtensionDataSource(ExtensionDataSource source) {
    std::lock_guard lock(g_mutex);
    g_source = std::move(source);
}

GVariant* ExtensionData() {
    ExtensionDataSource source;
    {
        std::lock_guard lock(g_mutex);
        source = g_source;
    }
    return source ? source() : nullptr;
}

}  // namespace page_bridge
