#pragma once

#include "engine/engine_log.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Collects the engine's log lines for the life of the object (one at a time).
class LogCapture {
public:
    struct Line {
        int level;
        std::string text;
    };

    LogCapture() {
        Clear();
        SetEngineLogHook(&Hook);
    }
    ~LogCapture() { SetEngineLogHook(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> lock(Mutex());
        return Store();
    }
    std::vector<std::string> Texts(int level) const {
        std::vector<std::string> texts;
        for (const Line& line : Lines()) {
            if (line.level == level) {
                texts.push_back(line.text);
            }
        }
        return texts;
    }
    std::vector<std::string> Errors() const { return Texts(kEngineLogError); }
    // Lines of any level that contain the text.
    std::size_t Count(std::string_view part) const {
        const std::vector<Line> lines = Lines();
        return static_cast<std::size_t>(
            std::count_if(lines.begin(), lines.end(),
                          [&](const Line& l) { return l.text.find(part) != std::string::npos; }));
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(Mutex());
        Store().clear();
    }

private:
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<Line>& Store() {
        static std::vector<Line> lines;
        return lines;
    }
    static void Hook(int level, const char* text) {
        std::lock_guard<std::mutex> lock(Mutex());
        Store().push_back({level, text});
    }
};
