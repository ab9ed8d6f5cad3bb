#include "app/parvex_app.h"

#include "app/app_log.h"
#include "app/data_folders.h"
#include "app/language.h"
#include "log/sync_my_log.h"

#include <cstdio>

CParvexApp& TheApp() {
    static CParvexApp app;
    return app;
}

int CParvexApp::Run() {
    m_log = OpenAppLog();
    ApplyStartupLanguage();

    m_log->InfoFormat("CParvexApp::Run: started, language %s", GetLanguageCode().c_str());
    std::printf("Parvex 1.0.0.0\n  data folder: %s\n  settings:    %s\n  log file:    %s\n"
                "  language:    %s (%u)\n",
                GetAppDataFolder().c_str(), GetSettingsFilePath().c_str(), GetLogFilePath().c_str(),
                GetLanguageCode().c_str(), unsigned(GetLanguageId()));

    CloseAppLog();
    return 0;
}
