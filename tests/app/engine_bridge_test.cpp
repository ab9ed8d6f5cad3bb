#include "app/app_log.h"
#include "app/data_folders.h"
#include "app/engine_bridge.h"
#include "app/language.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using testing_support::ReadLines;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

char* Dup(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A transfer manager that answers from its fields and records what it was handed.
class FakeTransMgr : public CTovuTransMgr {
public:
    char* ResolveLinkAddress(const char*, int* errorCode, char** errorMessage) override {
        if (resolved.empty()) {
            *errorCode = 20005;
            *errorMessage = Give("link removed");
            return nullptr;
        }
        return Give(resolved);
    }
    int AuthenticateLink(const char*, const char* code, const char* password, char** token,
                         char** errorMessage) override {
        lastCode = code;
        lastPassword = password;
        if (authCode != 0) {
            *errorMessage = Give("wrong password");
            return authCode;
        }
        *token = Give("T0K");
        return 0;
    }
    char* NewDeliveryDownloadTask(const char* groupId, const char* downloadUrl,
                                  const char* localPath, bool isFolder, const char* metadataUrl,
                                  int priority, const char* remainCountUrl,
                                  const char* password) override {
        newTask = {groupId,        downloadUrl,
                   localPath,      isFolder ? "folder" : "file",
                   metadataUrl,    std::to_string(priority),
                   remainCountUrl, password != nullptr ? password : "(null)"};
        return Give("task-1");
    }
    char* GetTaskIdList(const char* groupId, std::uint32_t stateMask) override {
        listedGroup = groupId;
        listedMask = stateMask;
        return Give(idList);
    }
    void SetOption(int type, const char* value) override { options[type] = value; }
    void SetLogHook(void (*installed)(int, const char*)) override { hook = installed; }
    int StartEngine() override { return startResult; }
    void FreeString(char* text) override {
        if (text != nullptr) {
            ++freed;
            std::free(text);
        }
    }

    char* Give(const std::string& text) {
        ++given;
        return Dup(text);
    }

    std::string resolved;
    int authCode = 0;
    int startResult = 0;
    std::string lastCode;
    std::string lastPassword;
    std::vector<std::string> newTask;
    std::string idList;
    std::string listedGroup;
    std::uint32_t listedMask = 0;
    std::map<int, std::string> options;
    void (*hook)(int, const char*) = nullptr;
    int given = 0;
    int freed = 0;
};

constexpr char kSeparator[] = "201906122104";

} // namespace

TEST(EngineBridgeIdLists, SplitIntoIdsInTextOrderSkippingEmptyPieces) {
    const std::string sep = kSeparator;
    struct Case {
        std::string text;
        QStringList ids;
    } cases[] = {
        {"", {}},
        {"a" + sep + "b" + sep, {"a", "b"}},
        {"x1" + sep + "x2" + sep + "x3" + sep, {"x1", "x2", "x3"}},
        {sep + sep + "only" + sep, {"only"}},
        {"last-without-separator", {"last-without-separator"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitIdList(QString::fromStdString(c.text)), c.ids) << c.text;
    }
}

TEST(EngineBridgeRemainCount, DerivedFromTheTaskAddressBaseAndCode) {
    struct Case {
        const char* taskAddress;
        const char* expected;
    } cases[] = {
        {"https://host/v2/delivery/metadata/CODE/a/b.txt?token=T",
         "https://host/v2/delivery/get_remain_download_count/CODE"},
        {"http://127.0.0.1:8080/v2/delivery/metadata/Ab12/sub/name?token=T",
         "http://127.0.0.1:8080/v2/delivery/get_remain_download_count/Ab12"},
        // No "/" after the code: nothing to derive.
        {"https://host/v2/delivery/metadata/CODE?token=T", ""},
        {"https://host/v2/delivery/metadata/", ""},
        {"https://host/v2/delivery/metadata//x", ""},
        {"no scheme at all", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RemainCountAddress(c.taskAddress), QString(c.expected)) << c.taskAddress;
    }
}

TEST(EngineBridge, NewDeliveryTaskAddsTheRemainingCountOnlyForAFileWithoutDownloadUrl) {
    FakeTransMgr mgr;
    CEngineBridge bridge(&mgr);
    const QString address = "https://host/v2/delivery/metadata/CODE/a/b.txt?token=T";

    EXPECT_EQ(bridge.NewDeliveryTask("", "/save/b.txt", false, address, 3, "pw"), "task-1");
    EXPECT_EQ(mgr.newTask, (std::vector<std::string>{
                               "DD", "", "/save/b.txt", "file", address.toStdString(), "3",
                               "https://host/v2/delivery/get_remain_download_count/CODE", "pw"}));

    bridge.NewDeliveryTask("", "/save/a", true, address, 3);
    EXPECT_EQ(mgr.newTask[6], "");
    EXPECT_EQ(mgr.newTask.back(), "") << "a link without password";
    bridge.NewDeliveryTask("https://host/dl", "/save/b.txt", false, address, 3);
    EXPECT_EQ(mgr.newTask[6], "");
    EXPECT_EQ(mgr.freed, mgr.given);
}

TEST(EngineBridge, FailuresFillTheStatusPairAndEveryReturnedTextIsGivenBack) {
    FakeTransMgr mgr;
    CEngineBridge bridge(&mgr);

    BridgeStatus status;
    EXPECT_EQ(bridge.ResolveLinkAddress("https://host/s/x", status), "");
    EXPECT_EQ(status.code, 20005);
    EXPECT_EQ(status.message, "link removed");

    mgr.resolved = "https://host/link/view/Ab";
    status = {};
    EXPECT_EQ(bridge.ResolveLinkAddress("https://host/s/x", status), mgr.resolved.c_str());
    EXPECT_EQ(status.code, 0);

    mgr.authCode = 20003;
    EXPECT_EQ(bridge.AuthenticateLink("https://host", "Ab", "", status), "");
    EXPECT_EQ(status.code, 20003);
    EXPECT_EQ(status.message, "wrong password");
    EXPECT_EQ(mgr.lastPassword, "");

    mgr.authCode = 0;
    status = {};
    EXPECT_EQ(bridge.AuthenticateLink("https://host", "Ab?x=1", "密码 pw", status), "T0K");
    EXPECT_EQ(mgr.lastCode, "Ab?x=1");
    EXPECT_EQ(mgr.lastPassword, "密码 pw");
    EXPECT_EQ(status.code, 0);

    mgr.idList = std::string("t1") + kSeparator + "t2" + kSeparator;
    EXPECT_EQ(bridge.GetTaskIds(), (QStringList{"t1", "t2"}));
    EXPECT_EQ(mgr.listedGroup, "DD");
    EXPECT_EQ(mgr.listedMask, 255u);

    EXPECT_EQ(mgr.freed, mgr.given);
}

TEST(EngineBridge, WithoutATransferManagerEveryWrapperReturnsItsEmptyResult) {
    CEngineBridge bridge(nullptr);
    BridgeStatus status{7, "untouched"};
    EXPECT_EQ(bridge.AuthenticateLink("https://host", "Ab", "pw", status), "");
    EXPECT_EQ(bridge.ResolveLinkAddress("https://host/s/x", status), "");
    EXPECT_FALSE(bridge.GetJsonPage("https://host/x", 0, status).has_value());
    EXPECT_EQ(status.code, 7);
    EXPECT_EQ(status.message, "untouched");
    EXPECT_FALSE(bridge.IsLinkLoginVerified("https://host", "Ab"));
    EXPECT_FALSE(bridge.StartTask("t1"));
    EXPECT_TRUE(bridge.GetTaskIds().isEmpty());
    EXPECT_EQ(bridge.NewDeliveryTask("", "/x", false, "", 3), "");
    EXPECT_EQ(bridge.GetTaskView("t1").viewState, 0);
    EXPECT_EQ(bridge.Start(), 0);
}

TEST(EngineBridge, StartHandsOverLanguageAndDataFolderAndReportsWhyTheEngineCannotRun) {
    TempDir dir;
    ScopedEnv home("PARVEX_HOME", dir.Path());
    ApplyLanguage(kLanguageChinese);
    FakeTransMgr mgr;
    mgr.startResult = 20110;
    CEngineBridge bridge(&mgr);
    EXPECT_EQ(bridge.Start(), 20110);
    EXPECT_EQ(mgr.options[kOptionLanguage], "cn");
    EXPECT_EQ(mgr.options[kOptionDataFolder], GetAppDataFolder());
    ApplyLanguage(kLanguageEnglish);
    bridge.SetEngineLanguage();
    EXPECT_EQ(mgr.options[kOptionLanguage], "en");
}

TEST(EngineBridge, TheLogHookWritesEngineLinesVerbatimIntoTheApplicationLog) {
    TempDir dir;
    ScopedEnv home("PARVEX_HOME", dir.Path());
    std::filesystem::create_directories(GetLogFolder() + "/Information");
    OpenAppLog();
    FakeTransMgr mgr;
    CEngineBridge bridge(&mgr);
    bridge.Start();
    ASSERT_NE(mgr.hook, nullptr);
    // Engine lines carry URLs with percent signs; they must never be read as a format.
    mgr.hook(0, "CTaskDB::DoSave: GET https://h/x%20y?a=%s%n");
    mgr.hook(1, "CTovuTransMgr::NewTask: failed %d");
    CloseAppLog();

    const auto lines = ReadLines(GetLogFilePath());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("[I][Parvex]: CTaskDB::DoSave: GET https://h/x%20y?a=%s%n"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("[E][Parvex]: CTovuTransMgr::NewTask: failed %d"), std::string::npos)
        << lines[1];
}
