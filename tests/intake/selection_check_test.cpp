// The selection dialog's confirm: refused items, the order of the checks, creating the save
// folder and remembering it.
#include "intake/selection_check.h"

#include "app/language.h"
#include "app/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

constexpr char kUnset[] = "(unset)";

LinkItem Item(const char* path, bool isFolder, const char* convertedUrl = "",
              const char* watermarkUrl = "") {
    LinkItem item;
    item.path = path;
    item.isFolder = isFolder;
    item.convertedUrl = convertedUrl;
    item.watermarkUrl = watermarkUrl;
    return item;
}

// Every item of a link, as a tree walk collects them.
LinkItem AllItems() {
    LinkItem all;
    all.children = {
        Item("/A", true),
        Item("/A/x.txt", false),
        Item("/AB", true),
        Item("/AB/report.pdf", false, "", "http://h/wm"),
        Item("/C", true),
        Item("/C/deep", true),
        Item("/C/deep/doc.docx", false, "http://h/eod"),
        Item("/D", true),
        Item("/D/ok.txt", false),
    };
    return all;
}

} // namespace

TEST(SelectionOuterChain, PickedItemsAndEverythingBelowAPickedFolder) {
    const LinkItem all = AllItems();
    struct Case {
        std::vector<LinkItem> picked;
        bool refused;
    } cases[] = {
        {{Item("/D", true)}, false},
        {{Item("/D/ok.txt", false), Item("/A/x.txt", false)}, false},
        {{Item("/C", true)}, true},
        // A plain prefix: /A also covers /AB.
        {{Item("/A", true)}, true},
        // Only a folder reaches below itself.
        {{Item("/A", false)}, false},
        {{Item("/D", true), Item("/z.docx", false, "http://h/eod")}, true},
        {{Item("/W", true, "", "http://h/wm")}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SelectionHasOuterChain(c.picked, all), c.refused)
            << c.picked.back().path.toStdString();
    }
}

TEST(SelectionConfirm, ChecksInOrderAndCreatesTheSaveFolder) {
    TempDir home;
    ScopedEnv env("PARVEX_HOME", home.Path());
    TempDir save;
    testing_support::WriteFile(save.File("file.txt"), "x");
    const std::string tooLong(300, 'n');
    const LinkItem all = AllItems();
    const std::vector<LinkItem> fine = {Item("/D", true)};

    struct Case {
        int language;
        std::vector<LinkItem> picked;
        std::string folder; // below the temporary folder; empty: none typed
        QString message;    // "%1": the folder
        SelectionFocus focus;
    } cases[] = {
        {kLanguageEnglish,
         {Item("/A", true)},
         "",
         "Can't download the Outer Chain from the Download Tool",
         SelectionFocus::kNone},
        {kLanguageEnglish, {}, "", "Please select downloaded files ", SelectionFocus::kItemList},
        {kLanguageEnglish, fine, "", "Please select saved path", SelectionFocus::kSaveFolder},
        {kLanguageEnglish, fine, "file.txt", "Fail to create saved path（183）：%1",
         SelectionFocus::kSaveFolder},
        {kLanguageChinese, fine, "file.txt", QString::fromUtf8("创建保存路径失败（183）：%1"),
         SelectionFocus::kSaveFolder},
        // A "%" in the path is shown as typed.
        {kLanguageEnglish, fine, "file.txt/50%s%d", "Fail to create saved path（3）：%1",
         SelectionFocus::kSaveFolder},
        {kLanguageEnglish, fine, "new/" + tooLong, "Fail to create saved path（111）：%1",
         SelectionFocus::kSaveFolder},
        {kLanguageEnglish, fine, "new/a/b", "", SelectionFocus::kNone},
        {kLanguageEnglish, fine, ".", "", SelectionFocus::kNone},
    };
    for (const Case& c : cases) {
        const QString folder =
            c.folder.empty() ? QString() : QString::fromStdString(save.File(c.folder));
        SCOPED_TRACE(folder.toStdString());
        ApplyLanguage(c.language);
        WriteSetting(kSettingSavePath, kUnset);

        const SelectionCheck check = ConfirmSelection(c.picked, all, folder);

        const bool accepted = c.message.isEmpty();
        EXPECT_EQ(check.accepted, accepted);
        EXPECT_EQ(check.message, accepted ? QString() : QString(c.message).replace("%1", folder));
        EXPECT_EQ(check.focus, c.focus);
        EXPECT_EQ(ReadSetting(kSettingSavePath, ""), accepted ? folder.toStdString() : kUnset);
        if (accepted) {
            EXPECT_TRUE(std::filesystem::is_directory(folder.toStdString()));
        }
    }
    EXPECT_TRUE(std::filesystem::is_regular_file(save.File("file.txt")));
}
