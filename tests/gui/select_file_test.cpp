// The selection dialog against the in-process stand-in for the service: the loading row and the
// root level, browsing with the folder cache and background listings, every OK message with the
// focus it leaves, failed listings, the geometry, and closing while listings still run.
#include "intake/select_file.h"

#include "app/engine_bridge.h"
#include "app/language.h"
#include "app/message_box.h"
#include "app/settings.h"
#include "engine/engine_settings.h"
#include "engine/tovu_trans_mgr.h"
#include "gui_wait.h"
#include "intake/link_listing.h"
#include "intake/select_file_view.h"
#include "item_json.h"
#include "service_dialog_fixture.h"
#include "service_server.h"
#include "support/scenario_server.h"
#include "support/temp_dir.h"
#include "views/file_icon_list.h"
#include "views/x_list_ctrl.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using parvex_service::Fault;
using parvex_service::FaultKind;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WaitUntil;

constexpr auto kDeadline = std::chrono::seconds(30);

constexpr char kScenario[] = R"({"links": [
  {"code": "One1", "item": {"name": "single.iso", "size": 5}},
  {"code": "Tree1", "item": {"name": "Root", "children": [
    {"name": "a.txt", "size": 2048, "modified": "2022-12-31T23:59:58+08:00"},
    {"name": "Sub", "children": [
      {"name": "Deep", "children": [{"name": "conv.docx", "size": 4, "converted": {"size": 4}}]},
      {"name": "b.txt", "size": 3, "modified": "2022-01-02T03:04:05Z"}]},
    {"name": "Marked", "children": [
      {"name": "inner", "children": [{"name": "wm.pdf", "size": 10, "watermark": {"size": 10}}]}]},
    {"name": "Plain", "children": [{"name": "ok.txt", "size": 1}]}]}}
]})";

constexpr char kMetadataPrefix[] = "/v2/delivery/metadata/";
constexpr char kUnset[] = "(unset)";
constexpr char kDefaultModified[] = "2024-05-01 10:20:30";

bool WaitPumping(const std::function<bool()>& condition) {
    return gui_testing::WaitPumping(condition, kDeadline);
}

template <typename T>
T* Control(const CSelectFile& dialog, const char* name) {
    auto* control = dialog.findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
}

CXListCtrl* Items(const CSelectFile& dialog) {
    return Control<CXListCtrl>(dialog, "items");
}

QString CurrentPath(const CSelectFile& dialog) {
    return Control<QLineEdit>(dialog, "currentPath")->text();
}

bool UpEnabled(const CSelectFile& dialog) {
    return Control<QPushButton>(dialog, "up")->isEnabled();
}

std::vector<QString> Column(const CSelectFile& dialog, int column) {
    const CXListCtrl* items = Items(dialog);
    std::vector<QString> texts;
    for (int row = 0; row < items->GetItemCount(); ++row) {
        texts.push_back(items->GetItemText(row, column));
    }
    return texts;
}

std::vector<QString> Names(const CSelectFile& dialog) {
    return Column(dialog, 1);
}

int RowNamed(const CSelectFile& dialog, const QString& name) {
    const std::vector<QString> names = Names(dialog);
    const auto found = std::find(names.begin(), names.end(), name);
    EXPECT_NE(found, names.end()) << name.toStdString();
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

QPoint CellCentre(const CSelectFile& dialog, int row, int column) {
    const CXListCtrl* items = Items(dialog);
    return items->visualRect(items->model()->index(row, column)).center();
}

// The press and release come first, as a real double click sends them.
void DoubleClick(const CSelectFile& dialog, const QString& name) {
    const QPoint centre = CellCentre(dialog, RowNamed(dialog, name), 1);
    QTest::mouseClick(Items(dialog)->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(Items(dialog)->viewport(), Qt::LeftButton, {}, centre);
}

void Check(const CSelectFile& dialog, const QString& name) {
    QTest::mouseClick(Items(dialog)->viewport(), Qt::LeftButton, {},
                      CellCentre(dialog, RowNamed(dialog, name), 0));
}

void ClickButton(const CSelectFile& dialog, const char* name) {
    QTest::mouseClick(Control<QPushButton>(dialog, name), Qt::LeftButton);
}

using gui_testing::Shown;

class SelectFileTest : public gui_testing::ServiceDialogTest {
protected:
    SelectFileTest() : ServiceDialogTest(kScenario) {}

    std::unique_ptr<CSelectFile> Open(const char* code) {
        auto dialog = std::make_unique<CSelectFile>(
            m_base, code, QString::fromStdString(m_server->Token(code)), nullptr, &m_bridge);
        dialog->show();
        return dialog;
    }

    // Opened with its tree walk delivered.
    std::unique_ptr<CSelectFile> OpenListed(const char* code) {
        auto dialog = Open(code);
        EXPECT_TRUE(WaitPumping([&] { return !dialog->IsLoading(); }));
        return dialog;
    }

    // At the link's root folder "/Root" of Tree1.
    std::unique_ptr<CSelectFile> OpenAtRoot() {
        auto dialog = OpenListed("Tree1");
        DoubleClick(*dialog, "Root");
        EXPECT_EQ(CurrentPath(*dialog), "/Root");
        return dialog;
    }

    // Metadata requests below the link, as "<link path>" in arrival order.
    std::vector<std::string> Listed() const {
        std::vector<std::string> listed;
        for (const parvex_service::RecordedRequest& request : m_server->Requests()) {
            if (request.path.starts_with(kMetadataPrefix)) {
                listed.push_back(request.path.substr(std::strlen(kMetadataPrefix)));
            }
        }
        return listed;
    }

    // Releases what hangs and lets every listing end; what they posted is delivered or freed
    // by the time this returns.
    bool FinishListings() {
        m_server->ClearFaults();
        const bool ended = WaitPumping([&] { return m_bridge.Pool().Count() == 0; });
        QCoreApplication::sendPostedEvents();
        return ended;
    }

    void HangListingsOf(const std::string& linkPath) {
        m_server->AddFault(Fault::Make(kMetadataPrefix + linkPath, FaultKind::Hang));
    }
};

} // namespace

TEST(SelectFileView, RowNameDropsTheFolderAndItsSlash) {
    struct Case {
        const char* folder;
        const char* item;
        const char* name;
    } cases[] = {
        {"/", "/Root", "Root"},
        {"/", "/single.iso", "single.iso"},
        {"/Root", "/Root/a.txt", "a.txt"},
        {"/Root/Sub", "/Root/Sub/深 x", "深 x"},
        // Only the length counts: a folder listed in another letter case still names its rows.
        {"/Root/SUB", "/Root/Sub/b.txt", "b.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RowName(QString::fromUtf8(c.folder), QString::fromUtf8(c.item)),
                  QString::fromUtf8(c.name))
            << c.folder << " " << c.item;
    }
}

TEST(SelectFileView, ModifiedTextIsDateAndTimeBeforeTheZone) {
    struct Case {
        const char* modified;
        const char* shown;
    } cases[] = {
        {"2024-05-01T10:20:30+08:00", "2024-05-01 10:20:30"},
        {"2024-05-01T10:20:30.123+00:00", "2024-05-01 10:20:30.123"},
        {"+08:00 2024-05-01T10:20:30+08:00", "+08:00 2024-05-01 10:20:30"},
        {"2024-05-01T10:20:30Z", ""},
        {"2024-05-01T10:20:30-05:00", ""},
        {"2024-05-01 10:20:30+08:00", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ModifiedText(c.modified), QString(c.shown)) << c.modified;
    }
}

TEST(SelectFileView, UpTargetIsTheRootLevelOrThePartBeforeTheLastSlash) {
    struct Case {
        const char* current;
        std::optional<QString> target;
    } cases[] = {
        {"/Root/Sub/Deep", QString("/Root/Sub")},
        {"/Root/Sub", QString("/Root")},
        {"/Root", QString("/")},
        {"/", QString("/")},
        {"", std::nullopt},
        {"Root", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UpTarget(c.current), c.target) << c.current;
    }
}

TEST(SelectFileView, ColumnWidthsShareTheViewport) {
    struct Case {
        int viewport;
        std::array<int, 4> widths;
    } cases[] = {
        {478, {30, 159, 159, 128}},
        {600, {30, 200, 200, 168}},
        // The integer thirds leave their remainder to the last column.
        {100, {30, 33, 33, 2}},
        {60, {30, 20, 20, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ItemColumnWidths(c.viewport), c.widths) << c.viewport;
    }
}

TEST(SelectFileView, OnlyAWalkWithoutARootFailedAtTheRoot) {
    struct Case {
        const char* what;
        int code;
        const char* rootPath;
        int children;
        bool failed;
    } cases[] = {
        {"root refused", 20005, "", 0, true},
        {"the root's reply was no listing", 0, "", 0, true},
        {"empty folder after a failure", 20005, "/Root", 0, true},
        {"a sub-folder failed last", 20005, "/Root", 3, false},
        {"a single file", 0, "/single.iso", 0, false},
        {"an empty folder", 0, "/Root", 0, false},
    };
    for (const Case& c : cases) {
        ListResult result;
        result.errorCode = c.code;
        result.folder.path = c.rootPath;
        result.folder.children.resize(c.children);
        EXPECT_EQ(TreeWalkFailedAtRoot(result), c.failed) << c.what;
    }
}

TEST_F(SelectFileTest, OpensWithTheLoadingRowThenShowsTheRootRow) {
    struct Case {
        int language;
        const char* caption;
        const char* up;
        const char* saveTo;
        const char* ok;
        const char* cancel;
        std::vector<const char*> columns;
        const char* loading;
    } cases[] = {
        {kLanguageEnglish,
         "Select Download files",
         "UP",
         "Save To：",
         "Download",
         "Cancel",
         {"", "FileName", "Size", "ModifyTime"},
         "Loading, please wait..."},
        {kLanguageChinese,
         "选择下载文件",
         "向上",
         "下载到：",
         "下载",
         "取消",
         {"", "文件名", "大小", "修改时间"},
         "正在加载，请稍后。。。。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        ApplyLanguage(c.language);
        m_server->ClearRequests();
        HangListingsOf("Tree1");
        auto dialog = Open("Tree1");
        ASSERT_TRUE(WaitPumping([&] { return !Listed().empty(); }));

        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(c.caption));
        EXPECT_EQ(Control<QPushButton>(*dialog, "up")->text(), QString::fromUtf8(c.up));
        EXPECT_EQ(Control<QPushButton>(*dialog, "ok")->text(), QString::fromUtf8(c.ok));
        EXPECT_TRUE(Control<QPushButton>(*dialog, "ok")->isDefault());
        EXPECT_EQ(Control<QPushButton>(*dialog, "cancel")->text(), QString::fromUtf8(c.cancel));
        EXPECT_EQ(Control<QToolButton>(*dialog, "browse")->text(), "...");
        const QStringList labels = [&] {
            QStringList texts;
            for (const QLabel* label : dialog->findChildren<QLabel*>()) {
                texts << label->text();
            }
            return texts;
        }();
        EXPECT_TRUE(labels.contains(QString::fromUtf8(c.saveTo)));
        CXListCtrl* items = Items(*dialog);
        ASSERT_EQ(items->GetColumnCount(), 4);
        for (int column = 0; column < 4; ++column) {
            EXPECT_EQ(items->GetColumnTitle(column), QString::fromUtf8(c.columns[column]));
        }
        EXPECT_EQ(items->GetHeaderCheckbox(0), header_check::kUnchecked);

        // While the walk runs: one row with the notice and no check box.
        auto* path = Control<QLineEdit>(*dialog, "currentPath");
        EXPECT_EQ(path->text(), "/");
        EXPECT_TRUE(path->isReadOnly());
        EXPECT_FALSE(path->isEnabled());
        EXPECT_FALSE(UpEnabled(*dialog));
        EXPECT_TRUE(dialog->IsLoading());
        EXPECT_EQ(Names(*dialog), std::vector<QString>{QString::fromUtf8(c.loading)});
        EXPECT_EQ(items->GetCheckbox(0, 0), -1);
        // Nothing to open there.
        DoubleClick(*dialog, QString::fromUtf8(c.loading));
        EXPECT_EQ(Listed().size(), 1u);

        ASSERT_TRUE(FinishListings());
        ASSERT_TRUE(WaitPumping([&] { return !dialog->IsLoading(); }));
        EXPECT_EQ(CurrentPath(*dialog), "/");
        EXPECT_FALSE(UpEnabled(*dialog));
        EXPECT_EQ(Names(*dialog), std::vector<QString>{"Root"});
        EXPECT_EQ(items->GetCheckbox(0, 0), 0);
        EXPECT_EQ(items->GetItemImage(0, 1), FileIconList::Instance().IndexFor("Root", true));
        EXPECT_EQ(Column(*dialog, 2), std::vector<QString>{""});
        EXPECT_EQ(Column(*dialog, 3), std::vector<QString>{kDefaultModified});
        EXPECT_TRUE(m_shown.empty());
    }
}

TEST_F(SelectFileTest, OneFileLinkAcceptsTheItemAndTheFolder) {
    TempDir save;
    ASSERT_TRUE(WriteSetting(kSettingSavePath, "/remembered/before"));
    auto dialog = OpenListed("One1");
    auto* saveFolder = Control<QLineEdit>(*dialog, "saveFolder");
    EXPECT_EQ(saveFolder->text(), "/remembered/before");
    EXPECT_EQ(dialog->SaveFolder(), "/remembered/before");
    EXPECT_EQ(Names(*dialog), std::vector<QString>{"single.iso"});
    EXPECT_EQ(Column(*dialog, 2),
              std::vector<QString>{QString::fromStdString(parvex_service::HumanSize(5))});
    EXPECT_EQ(Items(*dialog)->GetItemImage(0, 1),
              FileIconList::Instance().IndexFor("single.iso", false));

    Check(*dialog, "single.iso");
    saveFolder->setText(QString::fromStdString(save.Path()));
    ClickButton(*dialog, "ok");

    EXPECT_TRUE(m_shown.empty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    ASSERT_EQ(dialog->Selection().size(), 1u);
    const LinkItem& picked = dialog->Selection()[0];
    EXPECT_EQ(picked.path, "/single.iso");
    EXPECT_FALSE(picked.isFolder);
    EXPECT_EQ(picked.bytes, 5);
    EXPECT_FALSE(picked.downloadUrl.isEmpty());
    EXPECT_EQ(dialog->SaveFolder().toStdString(), save.Path());
    EXPECT_EQ(ReadSetting(kSettingSavePath, kUnset), save.Path());
}

TEST_F(SelectFileTest, BrowsingUsesTheCacheAndListsFoldersInTheBackground) {
    auto dialog = OpenListed("Tree1");
    const std::size_t walked = Listed().size();

    // The root folder came with the walk: shown at once, without a request.
    DoubleClick(*dialog, "Root");
    EXPECT_EQ(CurrentPath(*dialog), "/Root");
    EXPECT_TRUE(UpEnabled(*dialog));
    EXPECT_EQ(Names(*dialog), (std::vector<QString>{"a.txt", "Sub", "Marked", "Plain"}));
    EXPECT_EQ(Column(*dialog, 2),
              (std::vector<QString>{QString::fromStdString(parvex_service::HumanSize(2048)), "", "",
                                    ""}));
    EXPECT_EQ(Column(*dialog, 3), (std::vector<QString>{"2022-12-31 23:59:58", kDefaultModified,
                                                        kDefaultModified, kDefaultModified}));
    for (int row = 0; row < 4; ++row) {
        EXPECT_EQ(Items(*dialog)->GetCheckbox(row, 0), 0) << row;
    }
    EXPECT_EQ(Listed().size(), walked);

    // A file does not open.
    DoubleClick(*dialog, "a.txt");
    EXPECT_EQ(CurrentPath(*dialog), "/Root");

    // Sub is listed in the background; a second open while it runs starts nothing, and the
    // user may go on browsing meanwhile.
    HangListingsOf("Tree1/Sub");
    DoubleClick(*dialog, "Sub");
    DoubleClick(*dialog, "Sub");
    ASSERT_TRUE(WaitPumping([&] { return Listed().size() == walked + 1; }));
    EXPECT_EQ(Listed().back(), "Tree1/Sub");
    EXPECT_EQ(CurrentPath(*dialog), "/Root");
    ClickButton(*dialog, "up");
    EXPECT_EQ(CurrentPath(*dialog), "/");
    EXPECT_FALSE(UpEnabled(*dialog));
    EXPECT_EQ(Names(*dialog), std::vector<QString>{"Root"});

    // The listing is shown where the user is when it arrives.
    ASSERT_TRUE(FinishListings());
    EXPECT_EQ(CurrentPath(*dialog), "/Root/Sub");
    EXPECT_EQ(Names(*dialog), (std::vector<QString>{"Deep", "b.txt"}));
    EXPECT_EQ(Column(*dialog, 3), (std::vector<QString>{kDefaultModified, ""}));
    EXPECT_EQ(Listed().size(), walked + 1);

    ClickButton(*dialog, "up");
    EXPECT_EQ(CurrentPath(*dialog), "/Root");
    EXPECT_EQ(Names(*dialog), (std::vector<QString>{"a.txt", "Sub", "Marked", "Plain"}));
    // Listed once, shown from the cache from now on.
    DoubleClick(*dialog, "Sub");
    EXPECT_EQ(CurrentPath(*dialog), "/Root/Sub");
    EXPECT_EQ(Listed().size(), walked + 1);

    // Two levels up from a deeper listing.
    DoubleClick(*dialog, "Deep");
    ASSERT_TRUE(WaitPumping([&] { return CurrentPath(*dialog) == "/Root/Sub/Deep"; }));
    EXPECT_EQ(Names(*dialog), std::vector<QString>{"conv.docx"});
    ClickButton(*dialog, "up");
    EXPECT_EQ(CurrentPath(*dialog), "/Root/Sub");
    ClickButton(*dialog, "up");
    ClickButton(*dialog, "up");
    EXPECT_EQ(CurrentPath(*dialog), "/");
    EXPECT_EQ(Names(*dialog), std::vector<QString>{"Root"});
    // Up at "/" is disabled and would stay there anyway.
    EXPECT_FALSE(UpEnabled(*dialog));
    EXPECT_TRUE(m_shown.empty());
}

TEST_F(SelectFileTest, AFolderListedInAnotherLetterCaseIsTakenFromTheCache) {
    auto dialog = OpenAtRoot();
    const std::size_t before = Listed().size();
    // A listing of the folder as the service may name it too.
    auto result = std::make_unique<ListResult>();
    result->folder.path = "/Root/SUB";
    result->folder.isFolder = true;
    LinkItem seeded;
    seeded.path = "/Root/SUB/seeded.txt";
    result->folder.children.push_back(seeded);
    QCoreApplication::postEvent(dialog.get(), new CListResultEvent(std::move(result), false));
    ASSERT_TRUE(WaitPumping([&] { return CurrentPath(*dialog) == "/Root/SUB"; }));
    EXPECT_EQ(Names(*dialog), std::vector<QString>{"seeded.txt"});

    ClickButton(*dialog, "up");
    DoubleClick(*dialog, "Sub");

    EXPECT_EQ(CurrentPath(*dialog), "/Root/Sub");
    EXPECT_EQ(Names(*dialog), std::vector<QString>{"seeded.txt"});
    EXPECT_EQ(Listed().size(), before);
}

TEST_F(SelectFileTest, OkShowsEachRefusalWithItsFocusAndStaysOpen) {
    TempDir save;
    testing_support::WriteFile(save.File("file.txt"), "x");
    const QString fine = QString::fromStdString(save.File("fine"));
    enum class Focus { kNone, kList, kSaveFolder };
    struct Case {
        std::vector<const char*> checked; // names at "/Root"
        QString folder;
        QString message; // "%1": the folder
        Focus focus;
    } cases[] = {
        // A watermarked copy two levels below, and a converted document two levels below.
        {{"Plain", "Marked"},
         fine,
         "Can't download the Outer Chain from the Download Tool",
         Focus::kNone},
        {{"Sub"}, "", "Can't download the Outer Chain from the Download Tool", Focus::kNone},
        {{}, fine, "Please select downloaded files ", Focus::kList},
        {{}, "", "Please select downloaded files ", Focus::kList},
        {{"Plain"}, "", "Please select saved path", Focus::kSaveFolder},
        {{"a.txt"},
         QString::fromStdString(save.File("file.txt")),
         "Fail to create saved path（183）：%1",
         Focus::kSaveFolder},
    };
    auto dialog = OpenAtRoot();
    auto* saveFolder = Control<QLineEdit>(*dialog, "saveFolder");
    auto* ok = Control<QPushButton>(*dialog, "ok");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        ASSERT_TRUE(WriteSetting(kSettingSavePath, kUnset));
        m_shown.clear();
        // Rebuilt from the cache: nothing checked.
        ClickButton(*dialog, "up");
        DoubleClick(*dialog, "Root");
        for (const char* name : c.checked) {
            Check(*dialog, name);
        }
        saveFolder->setText(c.folder);
        ok->setFocus();

        QTest::mouseClick(ok, Qt::LeftButton);

        ASSERT_EQ(m_shown.size(), 1u);
        EXPECT_EQ(m_shown[0].owner, dialog.get());
        EXPECT_EQ(m_shown[0].text, QString(c.message).replace("%1", c.folder));
        QWidget* const focused[] = {ok, Items(*dialog), saveFolder};
        EXPECT_EQ(dialog->focusWidget(), focused[static_cast<int>(c.focus)]);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->Selection().empty());
        EXPECT_EQ(ReadSetting(kSettingSavePath, ""), kUnset);
        EXPECT_EQ(saveFolder->text(), c.folder);
    }
    EXPECT_FALSE(std::filesystem::exists(fine.toStdString()));

    // Every missing level is created; the checked items come in row order.
    const QString deep = QString::fromStdString(save.File("new/a/b"));
    ClickButton(*dialog, "up");
    DoubleClick(*dialog, "Root");
    Check(*dialog, "Plain");
    Check(*dialog, "a.txt");
    saveFolder->setText(deep);
    ClickButton(*dialog, "ok");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    ASSERT_EQ(dialog->Selection().size(), 2u);
    EXPECT_EQ(dialog->Selection()[0].path, "/Root/a.txt");
    EXPECT_EQ(dialog->Selection()[1].path, "/Root/Plain");
    EXPECT_TRUE(dialog->Selection()[1].children.empty());
    EXPECT_TRUE(std::filesystem::is_directory(deep.toStdString()));
    EXPECT_EQ(dialog->SaveFolder(), deep);
    EXPECT_EQ(ReadSetting(kSettingSavePath, ""), deep.toStdString());
}

TEST_F(SelectFileTest, AFailedFolderListingShowsItsCodeAndKeepsTheView) {
    auto dialog = OpenAtRoot();
    const std::vector<QString> rows = Names(*dialog);
    m_server->AddFault(Fault::Error(std::string(kMetadataPrefix) + "Tree1/Sub",
                                    "file/folder not found", "gone", 404, 1));
    Check(*dialog, "Plain");

    DoubleClick(*dialog, "Sub");
    ASSERT_TRUE(WaitPumping([&] { return !m_shown.empty(); }));

    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].owner, dialog.get());
    EXPECT_EQ(m_shown[0].text, "gone(20005)");
    EXPECT_EQ(CurrentPath(*dialog), "/Root");
    EXPECT_EQ(Names(*dialog), rows);
    EXPECT_EQ(Items(*dialog)->GetCheckbox(RowNamed(*dialog, "Plain"), 0), 1);

    // Not cached: the next open asks again.
    DoubleClick(*dialog, "Sub");
    ASSERT_TRUE(WaitPumping([&] { return CurrentPath(*dialog) == "/Root/Sub"; }));
    EXPECT_EQ(Names(*dialog), (std::vector<QString>{"Deep", "b.txt"}));
    EXPECT_EQ(m_shown.size(), 1u);
}

TEST_F(SelectFileTest, AWalkThatFailedAtTheRootShowsTheMessageInTheList) {
    struct Case {
        const char* failing; // the first request to this link path fails
        std::vector<QString> rows;
    } cases[] = {
        {"Tree1", {"gone(20005)"}},
        // The walk's last request failed, but the root was listed: a partial tree is shown.
        {"Tree1/Plain", {"Root"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        m_server->ClearFaults();
        m_server->AddFault(Fault::Error(std::string(kMetadataPrefix) + c.failing,
                                        "file/folder not found", "gone", 404, 1));
        auto dialog = OpenListed("Tree1");

        EXPECT_EQ(Names(*dialog), c.rows);
        EXPECT_EQ(Items(*dialog)->GetCheckbox(0, 0), c.rows[0] == "Root" ? 0 : -1);
        EXPECT_EQ(CurrentPath(*dialog), "/");
        EXPECT_FALSE(UpEnabled(*dialog));
        EXPECT_TRUE(m_shown.empty());
        // The notice is no folder to open.
        DoubleClick(*dialog, c.rows[0]);
        EXPECT_EQ(CurrentPath(*dialog), c.rows[0] == "Root" ? "/Root" : "/");
    }
}

TEST_F(SelectFileTest, ControlsFollowTheSize) {
    auto dialog = OpenListed("Tree1");
    EXPECT_EQ(dialog->size(), QSize(600, 540));
    EXPECT_EQ(dialog->minimumSize(), QSize(400, 300));
    auto* ok = Control<QPushButton>(*dialog, "ok");
    auto* cancel = Control<QPushButton>(*dialog, "cancel");
    auto* up = Control<QPushButton>(*dialog, "up");
    auto* path = Control<QLineEdit>(*dialog, "currentPath");
    auto* saveFolder = Control<QLineEdit>(*dialog, "saveFolder");
    auto* browse = Control<QToolButton>(*dialog, "browse");
    QLabel* label = dialog->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    CXListCtrl* items = Items(*dialog);
    const QSize okSize = ok->size();
    const QSize upSize = up->size();
    const int labelWidth = label->width();
    const int pathHeight = path->height();
    const int saveHeight = saveFolder->height();

    for (const QSize size : {QSize(600, 540), QSize(800, 650), QSize(400, 300)}) {
        SCOPED_TRACE(size.width());
        dialog->resize(size);
        ASSERT_TRUE(WaitPumping([&] { return dialog->size() == size; }));
        const int w = size.width();
        const int h = size.height();
        // Right and bottom edges as the first pixel past the control.
        const auto right = [](const QWidget* c) { return c->x() + c->width(); };
        const auto bottom = [](const QWidget* c) { return c->y() + c->height(); };
        const auto middle = [](const QWidget* c) { return 2 * c->y() + c->height(); };

        EXPECT_EQ(ok->size(), okSize);
        EXPECT_EQ(cancel->size(), okSize);
        EXPECT_EQ(bottom(ok), h - 10);
        EXPECT_EQ(bottom(cancel), h - 10);
        EXPECT_EQ(right(cancel), w - 5);
        EXPECT_EQ(right(ok), cancel->x() - 10);

        EXPECT_EQ(up->size(), upSize);
        EXPECT_EQ(right(up), w - 5);
        EXPECT_LE(std::abs(middle(up) - middle(path)), 1);
        EXPECT_EQ(path->geometry(), QRect(5, 10, up->x() - 10 - 5, pathHeight));

        EXPECT_EQ(saveFolder->height(), saveHeight);
        EXPECT_EQ(right(saveFolder), w - 5);
        EXPECT_EQ(saveFolder->x(), labelWidth + 15);
        EXPECT_EQ(bottom(saveFolder), ok->y() - 25);
        EXPECT_EQ(browse->parentWidget(), saveFolder);
        EXPECT_EQ(right(browse), saveFolder->width());
        EXPECT_TRUE(browse->isVisible());
        EXPECT_EQ(label->x(), 5);
        EXPECT_EQ(label->width(), labelWidth);
        EXPECT_LE(std::abs(middle(label) - middle(saveFolder)), 1);

        EXPECT_EQ(items->x(), 5);
        EXPECT_EQ(right(items), w - 5);
        EXPECT_EQ(items->y(), bottom(path) + 30);
        EXPECT_EQ(bottom(items), saveFolder->y() - 10);

        const int viewport = items->width() - 2 * items->frameWidth();
        const int third = viewport * 20 / 60;
        EXPECT_EQ(items->columnWidth(0), 30);
        EXPECT_EQ(items->columnWidth(1), third);
        EXPECT_EQ(items->columnWidth(2), third);
        EXPECT_EQ(items->columnWidth(3), viewport - 30 - 2 * third - 2);
    }
}

TEST_F(SelectFileTest, BrowsePutsTheChosenFolderInTheBox) {
    TempDir chosen;
    auto dialog = OpenListed("One1");
    auto* saveFolder = Control<QLineEdit>(*dialog, "saveFolder");
    for (const bool accept : {false, true}) {
        SCOPED_TRACE(accept);
        saveFolder->setText("/typed/before");
        // Answers the folder dialog once it is up; its modal loop runs until then.
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [&] {
            auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (picker == nullptr) {
                return;
            }
            answer.stop();
            if (accept) {
                // Typed into the picker's own name box, as a user may.
                auto* typed = picker->findChild<QLineEdit*>("fileNameEdit");
                if (typed == nullptr) {
                    ADD_FAILURE() << "no name box in the folder dialog";
                    picker->reject();
                    return;
                }
                typed->setText(QString::fromStdString(chosen.Path()));
                QMetaObject::invokeMethod(picker, "accept"); // protected in QFileDialog
            } else {
                picker->reject();
            }
        });
        answer.start();

        QTest::mouseClick(Control<QToolButton>(*dialog, "browse"), Qt::LeftButton);

        EXPECT_FALSE(answer.isActive());
        EXPECT_EQ(saveFolder->text().toStdString(), accept ? chosen.Path() : "/typed/before");
    }
}

TEST_F(SelectFileTest, CancelAndTheCloseBoxWriteNothing) {
    TempDir save;
    const QString folder = QString::fromStdString(save.File("new"));
    const std::vector<std::function<void(CSelectFile&)>> closers = {
        [](CSelectFile& d) { ClickButton(d, "cancel"); },
        [](CSelectFile& d) { QTest::keyClick(&d, Qt::Key_Escape); },
        [](CSelectFile& d) { d.close(); },
    };
    for (std::size_t i = 0; i < closers.size(); ++i) {
        SCOPED_TRACE(i);
        auto dialog = OpenListed("One1");
        Check(*dialog, "single.iso");
        Control<QLineEdit>(*dialog, "saveFolder")->setText(folder);

        closers[i](*dialog);

        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_TRUE(dialog->Selection().empty());
    }
    EXPECT_TRUE(m_shown.empty());
    EXPECT_FALSE(std::filesystem::exists(folder.toStdString()));
    EXPECT_EQ(ReadSetting(kSettingSavePath, kUnset), kUnset);
}

// The leak check of the sanitizer build is what shows every cut-short result was freed.
TEST_F(SelectFileTest, ClosingWhileListingsRunDropsTheirResults) {
    struct Case {
        const char* how;
        bool walking; // else a folder listing runs
        std::function<void(std::unique_ptr<CSelectFile>&)> close;
    } cases[] = {
        {"walk, cancel", true, [](auto& d) { ClickButton(*d, "cancel"); }},
        {"walk, deleted", true, [](auto& d) { d.reset(); }},
        {"folder, close box", false, [](auto& d) { d->close(); }},
        {"folder, deleted", false, [](auto& d) { d.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        m_server->ClearRequests();
        std::unique_ptr<CSelectFile> dialog;
        if (c.walking) {
            HangListingsOf("Tree1");
            dialog = Open("Tree1");
        } else {
            dialog = OpenAtRoot();
            HangListingsOf("Tree1/Sub");
            DoubleClick(*dialog, "Sub");
        }
        ASSERT_TRUE(WaitPumping([&] {
            return !Listed().empty() && Listed().back() == (c.walking ? "Tree1" : "Tree1/Sub");
        }));

        // The window thread does not wait for the service.
        const auto before = std::chrono::steady_clock::now();
        c.close(dialog);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));

        ASSERT_TRUE(FinishListings());
        EXPECT_TRUE(m_shown.empty());
        if (dialog) {
            EXPECT_FALSE(dialog->isVisible());
            EXPECT_FALSE(dialog->IsLoading());
            EXPECT_EQ(CurrentPath(*dialog), c.walking ? "/" : "/Root");
            // Shown again, it lists what it has not listed yet.
            const std::size_t listed = Listed().size();
            dialog->show();
            ASSERT_TRUE(WaitPumping([&] { return !dialog->IsLoading(); }));
            EXPECT_EQ(Names(*dialog),
                      c.walking ? std::vector<QString>{"Root"}
                                : (std::vector<QString>{"a.txt", "Sub", "Marked", "Plain"}));
            EXPECT_EQ(Listed().size() > listed, c.walking);
            DoubleClick(*dialog, c.walking ? "Root" : "Sub");
            ASSERT_TRUE(WaitPumping(
                [&] { return CurrentPath(*dialog) == (c.walking ? "/Root" : "/Root/Sub"); }));
        }
    }
}
