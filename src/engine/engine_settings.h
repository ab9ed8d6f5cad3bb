#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

// Option types of SetOption.
enum EngineOption : int {
    kOptionServiceAddress = 1,
    kOptionSessionText = 2,
    kOptionDefaultDataServer = 3,
    kOptionDataFolder = 4,
    kOptionProxyServer = 5,
    kOptionProxyUser = 6,
    kOptionProxyPassword = 7,
    kOptionLanguage = 8,
    kOptionDeleteFinished = 9,
    kOptionLoadAtStart = 10,
    kOptionAutoRetry = 11,
    kOptionSpeedFactor = 12,
    kOptionResumeOnLoad = 13,
};

// The engine's settings. Texts are read and written under one lock (the language changes while
// the engine runs); flags and the speed factor are atomics.
class CEngineSettings {
public:
    // Types 1 to 8 replace their text; 9, 10, 11 and 13 set their flag to true unless the value
    // is "false" in any letter case; 12 takes 0, 1 or 2 for a speed factor of 1.5, 1.0 or 0.5.
    // Other types and unreadable factors change nothing.
    void SetOption(int type, std::string_view value);

    std::string ServiceAddress() const { return Text(m_serviceAddress); }
    std::string DefaultDataServer() const { return Text(m_defaultDataServer); }
    std::string SessionText() const { return Text(m_sessionText); }
    std::string DataFolder() const { return Text(m_dataFolder); }
    std::string ProxyServer() const { return Text(m_proxyServer); }
    std::string ProxyUser() const { return Text(m_proxyUser); }
    std::string ProxyPassword() const { return Text(m_proxyPassword); }
    std::string Language() const { return Text(m_language); }

    bool DeleteFinished() const { return m_deleteFinished.load(); }
    bool LoadAtStart() const { return m_loadAtStart.load(); }
    bool AutoRetry() const { return m_autoRetry.load(); }
    bool IncrementalSync() const { return m_incrementalSync.load(); }
    void SetIncrementalSync(bool on) { m_incrementalSync.store(on); }
    bool ResumeOnLoad() const { return m_resumeOnLoad.load(); }
    double SpeedFactor() const { return m_speedFactor.load(); }

    // Every member back to its default (tests, a new engine in the same process).
    void ResetToDefaults();

private:
    std::string Text(const std::string& member) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return member;
    }

    mutable std::mutex m_mutex;
    std::string m_serviceAddress;
    std::string m_defaultDataServer;
    std::string m_sessionText;
    std::string m_dataFolder;
    std::string m_proxyServer;
    std::string m_proxyUser;
    std::string m_proxyPassword;
    std::string m_language;
    std::atomic<bool> m_deleteFinished{false};
    std::atomic<bool> m_loadAtStart{true};
    std::atomic<bool> m_autoRetry{true};
    std::atomic<bool> m_incrementalSync{false};
    std::atomic<bool> m_resumeOnLoad{true};
    std::atomic<double> m_speedFactor{1.0};
};
