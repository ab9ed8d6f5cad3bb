#include "engine/engine_settings.h"

#include "engine/ascii_text.h"

#include <charconv>

void CEngineSettings::SetOption(int type, std::string_view value) {
    std::string* text = nullptr;
    std::atomic<bool>* flag = nullptr;
    switch (type) {
    case kOptionServiceAddress:
        text = &m_serviceAddress;
        break;
    case kOptionSessionText:
        text = &m_sessionText;
        break;
    case kOptionDefaultDataServer:
        text = &m_defaultDataServer;
        break;
    case kOptionDataFolder:
        text = &m_dataFolder;
        break;
    case kOptionProxyServer:
        text = &m_proxyServer;
        break;
    case kOptionProxyUser:
        text = &m_proxyUser;
        break;
    case kOptionProxyPassword:
        text = &m_proxyPassword;
        break;
    case kOptionLanguage:
        text = &m_language;
        break;
    case kOptionDeleteFinished:
        flag = &m_deleteFinished;
        break;
    case kOptionLoadAtStart:
        flag = &m_loadAtStart;
        break;
    case kOptionAutoRetry:
        flag = &m_autoRetry;
        break;
    case kOptionResumeOnLoad:
        flag = &m_resumeOnLoad;
        break;
    case kOptionSpeedFactor: {
        const std::string_view digits = TrimBlanks(value);
        int level = -1;
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), level);
        if (error != std::errc() || end != digits.data() + digits.size()) {
            return;
        }
        static constexpr double kFactors[] = {1.5, 1.0, 0.5};
        if (level >= 0 && level <= 2) {
            m_speedFactor.store(kFactors[level]);
        }
        return;
    }
    default:
        return;
    }
    if (text != nullptr) {
        std::lock_guard<std::mutex> lock(m_mutex);
        text->assign(value);
    } else if (flag != nullptr) {
        flag->store(!EqualsIgnoringAsciiCase(value, "false"));
    }
}

void CEngineSettings::ResetToDefaults() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::string* text :
             {&m_serviceAddress, &m_defaultDataServer, &m_sessionText, &m_dataFolder,
              &m_proxyServer, &m_proxyUser, &m_proxyPassword, &m_language}) {
            text->clear();
        }
    }
    m_deleteFinished.store(false);
    m_loadAtStart.store(true);
    m_autoRetry.store(true);
    m_incrementalSync.store(false);
    m_resumeOnLoad.store(true);
    m_speedFactor.store(1.0);
}
