#include "app/parvex_app.h"

#include "app/app_log.h"
#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "app/language.h"
#include "app/message_box.h"
#include "app/parvex_dlg.h"
#include "log/sync_my_log.h"
#include "tracking/parvex_task_mgr.h"
#include "views/detail_dlg_manager.h"
#include "views/file_icon_list.h"

#include <QCoreApplication>

#include <memory>

CParvexApp& TheApp() {
    static CParvexApp app;
    return app;
}

int CParvexApp::Run() {
    m_log = OpenAppLog();
    ApplyStartupLanguage();
    m_log->InfoFormat("CParvexApp::Run: started, language %s", GetLanguageCode().c_str());
    FileIconList::Create();

    int exitCode = 0;
    CEngineBridge* bridge = CEngineBridge::Instance();
    if (const int code = bridge ? bridge->Start() : 0; code != 0) {
        // Another copy works on this data folder: say so instead of fighting over it.
        ShowMessage(nullptr, ErrorMessageText(GetLangText(lang_text::kDataFolderInUse), code));
        exitCode = 1;
    } else {
        auto tracker = std::make_unique<CParvexTaskMgr>(bridge);
        tracker->Start(0);
        {
            CParvexDlg window(tracker.get(), bridge);
            window.Run();
        }
        // Detail windows follow their tasks through the engine: they go before it does.
        CDetailDlgManager::Instance().CloseAll();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        tracker.reset();
    }
    CEngineBridge::Shutdown();
    FileIconList::Destroy();
    CloseAppLog();
    return exitCode;
}
