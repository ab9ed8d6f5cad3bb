#include "app/lang_text.h"
#include "app/language.h"
#include "cli/cli_options.h"
#include "cli/link_selection.h"
#include "cli/progress_view.h"
#include "cli/terminal.h"

#include <gtest/gtest.h>

#include <cstdio>

TEST(CliOptions, CommandsTakeTheirOperandsAndOptionsStandAnywhere) {
    CliOptions options;
    ASSERT_EQ(ParseCliOptions({"--lang", "cn", "get", "https://h/link/view/A", "--to", "out",
                               "--select", "/A/x", "--select", "y", "--password", "", "--insecure",
                               "--data-dir", "d"},
                              options)
                  .textNumber,
              0);
    EXPECT_EQ(options.command, CliOptions::Command::kGet);
    EXPECT_EQ(options.link, "https://h/link/view/A");
    EXPECT_EQ(options.saveFolder, "out");
    EXPECT_EQ(options.selections, (QStringList{"/A/x", "y"}));
    EXPECT_TRUE(options.hasPassword);
    EXPECT_TRUE(options.password.isEmpty());
    EXPECT_TRUE(options.insecure);
    EXPECT_EQ(options.language, "cn");
    EXPECT_EQ(options.dataDir, "d");

    CliOptions resume;
    ASSERT_EQ(ParseCliOptions({"resume", "t1", "t2"}, resume).textNumber, 0);
    EXPECT_EQ(resume.taskIds, (QStringList{"t1", "t2"}));
    CliOptions help;
    EXPECT_EQ(ParseCliOptions({"--help"}, help).textNumber, 0);
    EXPECT_TRUE(help.help);
}

TEST(CliOptions, RefusedArgumentsNameTheirFault) {
    struct Case {
        QStringList arguments;
        int text;
        const char* argument;
    } cases[] = {
        {{}, lang_text::kCliMissingCommand, ""},
        {{"fetch"}, lang_text::kCliUnknownCommand, "fetch"},
        {{"get"}, lang_text::kCliMissingLink, ""},
        {{"get", "L", "--to"}, lang_text::kCliMissingValue, "--to"},
        {{"get", "L", "--speed", "9"}, lang_text::kCliUnknownArgument, "--speed"},
        {{"get", "L", "M"}, lang_text::kCliUnknownArgument, "M"},
        {{"pause"}, lang_text::kCliMissingTaskId, ""},
        {{"status", "--to", "x"}, lang_text::kCliUnknownArgument, "--to"},
        {{"resume", "--password", "p"}, lang_text::kCliUnknownArgument, "--password"},
        {{"--lang", "de", "status"}, lang_text::kCliBadLanguage, "de"},
    };
    for (const Case& c : cases) {
        CliOptions options;
        const CliUsageError error = ParseCliOptions(c.arguments, options);
        EXPECT_EQ(error.textNumber, c.text) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(error.argument, c.argument) << c.arguments.join(' ').toStdString();
        EXPECT_FALSE(GetLangText(c.text, kLanguageChinese).isEmpty());
        EXPECT_FALSE(GetLangText(c.text, kLanguageEnglish).isEmpty());
    }
}

TEST(CliSelection, PathsAsListedRelativeOrTheWholeLink) {
    LinkItem root;
    root.path = "/Docs";
    root.isFolder = true;
    LinkItem all;
    for (const char* path : {"/Docs/a.txt", "/Docs/sub", "/Docs/sub/c.txt"}) {
        LinkItem item;
        item.path = path;
        all.children.push_back(item);
    }
    root.children = {all.children[0], all.children[1]};

    std::vector<LinkItem> picked;
    QString unknown;
    ASSERT_TRUE(SelectLinkItems(root, all, {}, picked, unknown));
    ASSERT_EQ(picked.size(), 1u);
    EXPECT_EQ(picked[0].path, "/Docs");
    EXPECT_TRUE(picked[0].children.empty());

    ASSERT_TRUE(SelectLinkItems(root, all, {"/Docs/sub/c.txt", "Docs/a.txt", "sub/", "a.txt"},
                                picked, unknown));
    ASSERT_EQ(picked.size(), 3u); // a.txt named twice is picked once
    EXPECT_EQ(picked[0].path, "/Docs/sub/c.txt");
    EXPECT_EQ(picked[1].path, "/Docs/a.txt");
    EXPECT_EQ(picked[2].path, "/Docs/sub");

    EXPECT_FALSE(SelectLinkItems(root, all, {"a.txt", "/Docs/A.TXT"}, picked, unknown));
    EXPECT_EQ(unknown, "/Docs/A.TXT");
}

TEST(CliProgress, LinesShowProgressWhileRunningAndTheStateOtherwise) {
    ApplyLanguage(kLanguageEnglish);
    CTaskViewInfo record;
    record.taskId = "T1";
    record.targetPath = "/save/data 50%1.bin";
    record.size = 48 * 1048576ull;
    record.completedBytes = 12 * 1048576ull;
    record.speed = 2 * 1048576ull;
    record.viewState = view_state::kWorking;
    EXPECT_EQ(TaskLine(record), QString::fromUtf8("data 50%1.bin  25%  12.00 MB/48.00 MB  "
                                                  "2.00 MB/S  Remain：00:00:18"));
    record.viewState = view_state::kError;
    record.errorText = "Invalid file name from the server";
    EXPECT_EQ(TaskLine(record),
              QString::fromUtf8("data 50%1.bin  Error：Invalid file name from the server"));
    record.viewState = view_state::kCompleted;
    EXPECT_EQ(TaskLine(record), "data 50%1.bin  100%  48.00 MB  Complete");
    record.viewState = view_state::kPreparing;
    record.targetPath.clear();
    EXPECT_EQ(TaskLine(record), "T1  Preparing");
}

TEST(CliProgress, PlainOutputPrintsStateChangesAndFollowsOnlyItsTasks) {
    ApplyLanguage(kLanguageEnglish);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    CProgressView view(out, false);
    view.Follow("A");
    CTaskViewInfo record;
    record.targetPath = "/s/a.bin";
    record.size = 100;
    record.viewState = view_state::kWorking;
    view.Update("A", record);
    view.Update("other", record);
    EXPECT_FALSE(view.AllEnded());
    view.Render();
    view.Render(); // nothing new: no second line
    record.completedBytes = 100;
    record.viewState = view_state::kCompleted;
    view.Update("A", record);
    EXPECT_TRUE(view.AllEnded());
    EXPECT_EQ(view.Records().size(), 1u);
    view.Render();

    std::rewind(out);
    char buffer[512] = {};
    const std::size_t read = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, read), "a.bin  0%  0 KB/1 KB  0 KB/S  Remain：more than 1 day\n"
                                         "a.bin  100%  1 KB  Complete\n");
}

TEST(CliTerminal, WideCharactersTakeTwoColumns) {
    EXPECT_EQ(DisplayWidth("abc"), 3);
    EXPECT_EQ(DisplayWidth(QString::fromUtf8("报告a")), 5);
    EXPECT_EQ(FitToColumns(QString::fromUtf8("报告报告"), 5), QString::fromUtf8("报告"));
    EXPECT_EQ(FitToColumns("abc", 5), "abc");
}
