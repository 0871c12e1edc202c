#include "platform/NetworkAdapters.h"

#include <winsock2.h>
#include <iphlpapi.h>

namespace platform {

std::optional<std::vector<NetworkAdapter>> ListNetworkAdapters() {
    // Asked until the buffer is large enough: adapters may come and go between two calls.
    std::vector<unsigned char> buffer(16 * sizeof(IP_ADAPTER_INFO));
    for (int attempt = 0;; ++attempt) {
        ULONG size = static_cast<ULONG>(buffer.size());
        const DWORD rc = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS) {
            break;
        }
        if (rc == ERROR_NO_DATA) {
            return std::vector<NetworkAdapter>{};
        }
        if (rc != ERROR_BUFFER_OVERFLOW || attempt == 3) {
            return std::nullopt;
        }
        buffer.resize(size);
    }
    std::vector<NetworkAdapter> adapters;
    for (auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); info != nullptr; info = info->Next) {
        NetworkAdapter adapter;
        adapter.name = info->AdapterName;
        const UINT length = info->AddressLength < MAX_ADAPTER_ADDRESS_LENGTH ? info->AddressLength
                                                                              : MAX_ADAPTER_ADDRESS_LENGTH;
        adapter.address.assign(info->Address, info->Address + length);
        adapter.gateway = info->GatewayList.IpAddress.String;
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

}  // namespace platform
