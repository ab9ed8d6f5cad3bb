#include "net/transfer_keys.h"

#include <map>
#include <mutex>

namespace {

struct Registry {
    std::mutex clientsMutex;
    std::map<const void*, std::pair<std::string, std::atomic<bool>*>> clients;
    std::mutex bytesMutex;
    std::map<std::string, std::uint64_t> bytes;
};

Registry& GetRegistry() {
    static Registry* registry = new Registry; // outlives every client, also at exit
    return *registry;
}

} // namespace

void RegisterKeyedTransfer(const void* client, const std::string& key,
                           std::atomic<bool>* cancelled) {
    Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.clientsMutex);
    registry.clients[client] = {key, cancelled};
}

void UnregisterKeyedTransfer(const void* client, const std::string& key, std::uint64_t bytesSent) {
    Registry& registry = GetRegistry();
    {
        std::lock_guard<std::mutex> lock(registry.bytesMutex);
        const auto it = registry.bytes.find(key);
        if (it != registry.bytes.end()) {
            if (it->second <= bytesSent) {
                registry.bytes.erase(it);
            } else {
                it->second -= bytesSent;
            }
        }
    }
    std::lock_guard<std::mutex> lock(registry.clientsMutex);
    registry.clients.erase(client);
}

void AddInFlightBytes(const std::string& key, std::uint64_t bytes) {
    Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.bytesMutex);
    registry.bytes[key] += bytes;
}

void CancelTransferKey(const std::string& key) {
    Registry& registry = GetRegistry();
    {
        std::lock_guard<std::mutex> lock(registry.clientsMutex);
        for (const auto& [client, entry] : registry.clients) {
            if (entry.first == key) {
                entry.second->store(true);
            }
        }
    }
    std::lock_guard<std::mutex> lock(registry.bytesMutex);
    registry.bytes.erase(key);
}

std::uint64_t InFlightBytes(const std::string& key) {
    Registry& registry = GetRegistry();
    std::lock_guard<std::mutex> lock(registry.bytesMutex);
    const auto it = registry.bytes.find(key);
    return it == registry.bytes.end() ? 0 : it->second;
}
