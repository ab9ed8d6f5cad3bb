#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// The live HTTP exchanges that carry a transfer key (an upload's task), and the body bytes each
// key has in flight. Each map has its own lock, held for single operations only.

// Adds an exchange; `cancelled` is set when its key is cancelled.
void RegisterKeyedTransfer(const void* client, const std::string& key,
                           std::atomic<bool>* cancelled);
// Removes it and takes its sent bytes off the key's count.
void UnregisterKeyedTransfer(const void* client, const std::string& key, std::uint64_t bytesSent);
void AddInFlightBytes(const std::string& key, std::uint64_t bytes);
// Cancels every live exchange of the key and forgets its count.
void CancelTransferKey(const std::string& key);
std::uint64_t InFlightBytes(const std::string& key);
