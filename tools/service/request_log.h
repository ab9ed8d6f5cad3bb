#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace parvex_service {

// One request exactly as it arrived.
struct RecordedRequest {
    std::string method;
    std::string target; // raw request target: path and query, not decoded
    std::string path;   // target up to the first "?", not decoded
    std::string query;  // raw text after the first "?", not decoded, order kept
    // Header lines in arrival order; names as sent, values without surrounding blanks or tabs
    // (a stray line feed at the end of a value is kept).
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The value of the first header named `name` (compared without case), or empty.
    std::string Header(const std::string& name) const;
};

// Requests in arrival order, shared by the connection threads.
class RequestLog {
public:
    void Add(RecordedRequest request) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(std::move(request));
    }
    std::vector<RecordedRequest> All() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<RecordedRequest> m_requests;
};

} // namespace parvex_service
