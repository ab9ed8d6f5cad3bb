// The add dialog against the in-process stand-in for the service: what it opens with, every
// message with the focus it leaves, the accepted road, and closing while a check still runs.
#include "intake/add_dlg.h"

#include "app/data_folders.h"
#include "app/engine_bridge.h"
#include "app/language.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "gui/gui_wait.h"
#include "service_dialog_fixture.h"
#include "service_server.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using gui_testing::WaitPumping;
using parvex_service::Fault;
using parvex_service::FaultKind;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WaitUntil;

constexpr char kScenario[] = R"({
  "links": [
    {"code": "Open1", "item": {"name": "open.txt", "size": 10}},
    {"code": "Lock1", "password": "pw1", "item": {"name": "Locked", "folder": true}},
    {"code": "Login1", "login_only": true, "item": {"name": "inner.txt", "size": 10}}
  ],
  "short_addresses": [
    {"path": "/s/abc", "code": "Open1"},
    {"path": "/s/old", "error": {"code": "20005", "msg": "link removed"}}
  ]
})";

constexpr char kAuthPath[] = "/v2/delivery/auth/";
constexpr char kUnset[] = "(unset)";

std::string Remembered() {
    return ReadSetting(kSettingDeliveryUrl, kUnset);
}

bool SettingsFileExists() {
    return std::filesystem::exists(GetSettingsFilePath());
}

QLineEdit* Box(const CAddDlg& dialog, const char* name) {
    auto* box = dialog.findChild<QLineEdit*>(name);
    EXPECT_NE(box, nullptr) << name;
    return box;
}

QPushButton* Button(const CAddDlg& dialog, const char* name) {
    auto* button = dialog.findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    return button;
}

using gui_testing::Shown;

class AddDlgTest : public gui_testing::ServiceDialogTest {
protected:
    AddDlgTest() : ServiceDialogTest(kScenario) {}

    // "{base}" in `text` stands for the service's address.
    QString WithBase(const QString& text) const {
        return QString(text).replace(QLatin1String("{base}"), m_base);
    }

    std::unique_ptr<CAddDlg> Open() {
        auto dialog = std::make_unique<CAddDlg>(nullptr, &m_bridge);
        dialog->show();
        return dialog;
    }

    static void Type(CAddDlg& dialog, const QString& address, const QString& password) {
        Box(dialog, "linkAddress")->setText(address);
        QTest::keyClicks(Box(dialog, "password"), password);
    }

    int RequestsTo(const std::string& prefix) const {
        const auto requests = m_server->Requests();
        return static_cast<int>(std::count_if(requests.begin(), requests.end(), [&](const auto& r) {
            return r.path.rfind(prefix, 0) == 0;
        }));
    }

    // OK on an open link whose authentication hangs until the faults are cleared: the dialog
    // is then busy with a check that is surely underway.
    void StartHangingCheck(CAddDlg& dialog) {
        m_server->AddFault(Fault::Make(kAuthPath, FaultKind::Hang));
        Type(dialog, WithBase("{base}/link/view/Open1"), "");
        QTest::mouseClick(Button(dialog, "ok"), Qt::LeftButton);
        EXPECT_TRUE(dialog.IsBusy());
        ASSERT_TRUE(WaitPumping([&] { return RequestsTo(kAuthPath) == 1; }));
    }

    // Lets a released check end; what it posts is delivered or freed by the time this returns.
    bool FinishReleasedCheck() {
        m_server->ClearFaults();
        const bool ended = WaitPumping([&] { return m_bridge.Pool().Count() == 0; });
        QCoreApplication::sendPostedEvents();
        return ended;
    }
};

} // namespace

TEST(AddDlgOpening, StoredAddressMaskedPasswordAndTextsThatFit) {
    struct Case {
        int language;
        const char* stored; // null: nothing stored
        const char* caption;
        std::vector<const char*> labels;
        const char* ok;
        const char* cancel;
    } cases[] = {
        {kLanguageEnglish,
         "https://host/link/view/Last",
         "Add Download Task",
         {"Send Link URL：", "Send Link Password：", "（Keep empty if password not exist）"},
         "OK",
         "Cancel"},
        {kLanguageChinese,
         nullptr,
         "添加下载任务",
         {"链接地址：", "链接密码：", "（无密码请置空）"},
         "确定",
         "取消"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        TempDir home;
        ScopedEnv env("PARVEX_HOME", home.Path());
        if (c.stored != nullptr) {
            ASSERT_TRUE(WriteSetting(kSettingDeliveryUrl, c.stored));
        }
        ApplyLanguage(c.language);
        CAddDlg dialog;
        dialog.show();

        EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8(c.caption));
        QLineEdit* address = Box(dialog, "linkAddress");
        EXPECT_EQ(address->text(), QString::fromUtf8(c.stored != nullptr ? c.stored : ""));
        EXPECT_EQ(dialog.focusWidget(), address);
        EXPECT_EQ(Box(dialog, "password")->echoMode(), QLineEdit::Password);
        EXPECT_EQ(Button(dialog, "ok")->text(), QString::fromUtf8(c.ok));
        EXPECT_TRUE(Button(dialog, "ok")->isDefault());
        EXPECT_EQ(Button(dialog, "cancel")->text(), QString::fromUtf8(c.cancel));
        QStringList labels;
        for (const QLabel* label : dialog.findChildren<QLabel*>()) {
            labels << label->text();
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        }
        for (const char* label : c.labels) {
            EXPECT_TRUE(labels.contains(QString::fromUtf8(label))) << label;
        }
        EXPECT_FALSE(dialog.IsBusy());
    }
}

TEST_F(AddDlgTest, EveryMessageWithItsTextAndTheFocusItLeaves) {
    enum class After { kAddressFocused, kPasswordFocused, kRejected };
    struct Case {
        int language;
        const char* address; // "{base}": the service
        const char* password;
        const char* message;
        After after;
        bool requests;
    } cases[] = {
        {kLanguageEnglish, " \t ", "", "Please input send link URL", After::kAddressFocused, false},
        {kLanguageEnglish, "127.0.0.1/link/view/Open1", "", "Invalid Link!", After::kAddressFocused,
         false},
        {kLanguageEnglish, "{base}/link/view/Lock1", "wrong", "The password is wrong(20001)",
         After::kPasswordFocused, true},
        {kLanguageEnglish, "{base}/s/old", "", "link removed(20005)", After::kAddressFocused, true},
        {kLanguageEnglish, "{base}/link/view/Login1", "",
         "Cannot download the link from the Link Download Tool", After::kRejected, true},
        {kLanguageChinese, "{base}/link/view/Login1", "", "不能从链接下载工具下载该链接",
         After::kRejected, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        ApplyLanguage(c.language);
        m_server->ClearRequests();
        m_shown.clear();
        auto dialog = Open();
        Type(*dialog, WithBase(c.address), c.password);
        QLineEdit* address = Box(*dialog, "linkAddress");
        QLineEdit* password = Box(*dialog, "password");
        // Start from the other box, so only the dialog can have moved the focus.
        (c.after == After::kAddressFocused ? password : address)->setFocus();

        QTest::mouseClick(Button(*dialog, "ok"), Qt::LeftButton);
        ASSERT_TRUE(WaitPumping([&] { return !m_shown.empty() && !dialog->IsBusy(); }));

        ASSERT_EQ(m_shown.size(), 1u);
        EXPECT_EQ(m_shown[0].owner, dialog.get());
        EXPECT_EQ(m_shown[0].text, QString::fromUtf8(c.message));
        EXPECT_EQ(m_server->Requests().empty(), !c.requests);
        if (c.after == After::kRejected) {
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_EQ(dialog->result(), QDialog::Rejected);
        } else {
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_TRUE(address->isEnabled() && password->isEnabled());
            EXPECT_TRUE(Button(*dialog, "ok")->isEnabled());
            EXPECT_EQ(dialog->focusWidget(),
                      c.after == After::kPasswordFocused ? password : address);
        }
        EXPECT_TRUE(dialog->AccessToken().isEmpty());
        EXPECT_EQ(Remembered(), kUnset);
    }
}

TEST_F(AddDlgTest, AcceptedLinkClosesWithWhatTheDownloadNeeds) {
    struct Case {
        const char* address;
        const char* password;
        const char* code;
        bool pressEnter; // else OK is clicked
    } cases[] = {
        {"  {base}/link/view/Open1\t", "", "Open1", true},
        {"{base}/link/view/Lock1", "pw1", "Lock1", false},
        {"{base}/s/abc", "", "Open1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        TempDir home;
        ScopedEnv env("PARVEX_HOME", home.Path());
        auto dialog = Open();
        Type(*dialog, WithBase(c.address), c.password);

        if (c.pressEnter) {
            QTest::keyClick(Box(*dialog, "linkAddress"), Qt::Key_Return);
        } else {
            QTest::mouseClick(Button(*dialog, "ok"), Qt::LeftButton);
        }
        ASSERT_TRUE(WaitPumping([&] { return !dialog->isVisible(); }));

        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_TRUE(m_shown.empty());
        EXPECT_EQ(dialog->ServiceAddress(), m_base);
        EXPECT_EQ(dialog->DeliveryCode(), QString(c.code));
        EXPECT_FALSE(dialog->AccessToken().isEmpty());
        EXPECT_EQ(dialog->AccessToken().toStdString(), m_server->Token(c.code));
        // Its tasks keep it, to open the link again when the token expires.
        EXPECT_EQ(dialog->Password(), QString(c.password));
        EXPECT_EQ(Remembered(), WithBase(c.address).trimmed().toStdString());
    }
}

TEST_F(AddDlgTest, CancelEscapeAndCloseBoxWriteNothing) {
    const std::vector<std::function<void(CAddDlg&)>> closers = {
        [](CAddDlg& d) { QTest::mouseClick(Button(d, "cancel"), Qt::LeftButton); },
        [](CAddDlg& d) { QTest::keyClick(Box(d, "linkAddress"), Qt::Key_Escape); },
        [](CAddDlg& d) { d.close(); },
    };
    for (std::size_t i = 0; i < closers.size(); ++i) {
        SCOPED_TRACE(i);
        auto dialog = Open();
        Type(*dialog, WithBase("{base}/link/view/Lock1"), "pw1");

        closers[i](*dialog);

        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(m_server->Requests().empty());
    EXPECT_TRUE(m_shown.empty());
    EXPECT_FALSE(SettingsFileExists());
}

TEST_F(AddDlgTest, WhileBusyASecondOkStartsNothing) {
    auto dialog = Open();
    // The window thread got here while the service holds the request: nothing waits for it.
    ASSERT_NO_FATAL_FAILURE(StartHangingCheck(*dialog));
    QLineEdit* address = Box(*dialog, "linkAddress");
    QPushButton* ok = Button(*dialog, "ok");
    EXPECT_FALSE(ok->isEnabled());
    EXPECT_FALSE(address->isEnabled());
    EXPECT_FALSE(Box(*dialog, "password")->isEnabled());

    QTest::mouseClick(ok, Qt::LeftButton);
    // Enter where the focus went when the boxes were disabled, and on the dialog itself.
    ASSERT_NE(dialog->focusWidget(), nullptr);
    QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
    QTest::keyClick(dialog.get(), Qt::Key_Enter);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->IsBusy());

    ASSERT_TRUE(FinishReleasedCheck());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->DeliveryCode(), QString("Open1"));
    EXPECT_EQ(RequestsTo(kAuthPath), 1);
    EXPECT_TRUE(m_shown.empty());
}

TEST_F(AddDlgTest, ClosingWhileTheCheckRunsDropsItsResult) {
    const auto cancel = [](auto& d) { QTest::mouseClick(Button(*d, "cancel"), Qt::LeftButton); };
    struct Case {
        const char* how;
        std::function<void(std::unique_ptr<CAddDlg>&)> close;
        bool resultQueued; // else the service still holds the request when the dialog closes
    } cases[] = {
        {"cancel", cancel, false},
        {"escape", [](auto& d) { QTest::keyClick(d.get(), Qt::Key_Escape); }, false},
        {"close box", [](auto& d) { d->close(); }, false},
        {"deleted", [](auto& d) { d.reset(); }, false},
        {"cancel with the result queued", cancel, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        TempDir home;
        ScopedEnv env("PARVEX_HOME", home.Path());
        m_server->ClearRequests();
        auto dialog = Open();
        ASSERT_NO_FATAL_FAILURE(StartHangingCheck(*dialog));
        if (c.resultQueued) {
            // No events are delivered meanwhile: the result waits in the dialog's queue.
            m_server->ClearFaults();
            ASSERT_TRUE(WaitUntil([&] { return m_bridge.Pool().Count() == 0; }));
        }

        c.close(dialog);
        if (dialog) {
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_EQ(dialog->result(), QDialog::Rejected);
            EXPECT_FALSE(dialog->IsBusy());
            EXPECT_TRUE(Box(*dialog, "linkAddress")->isEnabled());
        }

        // The released check would accept the link: its result must not reach the dialog.
        ASSERT_TRUE(FinishReleasedCheck());
        EXPECT_GE(RequestsTo("/v2/delivery/is_login_verify/"), 1);
        if (dialog) {
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_EQ(dialog->result(), QDialog::Rejected);
            EXPECT_TRUE(dialog->AccessToken().isEmpty());
        }
        EXPECT_TRUE(m_shown.empty());
        EXPECT_FALSE(SettingsFileExists());
    }
}
