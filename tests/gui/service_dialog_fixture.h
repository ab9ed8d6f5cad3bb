#pragma once

#include "app/engine_bridge.h"
#include "app/language.h"
#include "app/message_box.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QString>

#include <memory>
#include <vector>

class QWidget;

namespace gui_testing {

// A message the dialogs showed, with the window that owned it.
struct Shown {
    QWidget* owner;
    QString text;
};

// A dialog over the in-process service: English texts, settings in a home of its own, a bridge
// whose pool runs like the process's, and every message captured instead of shown.
class ServiceDialogTest : public ::testing::Test {
protected:
    explicit ServiceDialogTest(const char* scenario) : m_scenario(scenario) {}

    void SetUp() override {
        ApplyLanguage(kLanguageEnglish);
        GetTransMgr()->SetOption(kOptionLanguage, "en");
        m_server = testing_support::StartScenarioServer(m_scenario);
        ASSERT_TRUE(m_server);
        m_base = QString::fromStdString(m_server->BaseUrl());
        // A dialog's thread leaves the pool once it has ended.
        m_bridge.Pool().Start(0);
        SetMessageHandler([this](QWidget* owner, const QString& text) {
            m_shown.push_back({owner, text});
        });
    }

    void TearDown() override {
        SetMessageHandler({});
        // Releases hanging requests, so the pool's stop does not wait for them.
        if (m_server) {
            m_server->Stop();
        }
    }

    const char* m_scenario;
    testing_support::TempDir m_home;
    testing_support::ScopedEnv m_env{"PARVEX_HOME", m_home.Path()};
    std::unique_ptr<parvex_service::ServiceServer> m_server;
    QString m_base;
    CEngineBridge m_bridge{GetTransMgr()};
    std::vector<Shown> m_shown;
};

} // namespace gui_testing
