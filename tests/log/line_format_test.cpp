#include "log/log_time.h"
#include "log/log_writer.h"
#include "log/sync_my_log.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <regex>

using testing_support::ReadLines;
using testing_support::ScopedEnv;
using testing_support::TempDir;

namespace {

class LogLines : public ::testing::Test {
protected:
    LogLines() {
        log.SetLogFile(dir.File("parvex.log"));
        log.SetName("Parvex");
        log.Init();
    }

    // Everything queued so far, as the writer puts it into the file.
    std::vector<std::string> Flush() {
        while (writer.QueuedLines() > 0) {
            writer.WriteBatch();
        }
        return ReadLines(dir.File("parvex.log"));
    }

    TempDir dir;
    CLogWriter writer;
    CSyncMyLog log{&writer};
};

std::string MessageOf(const std::string& line) {
    const auto pos = line.find("]: ");
    return pos == std::string::npos ? "" : line.substr(pos + 3);
}

} // namespace

TEST(LogTime, StampsUseLocalTimeWithMilliseconds) {
    ScopedEnv tz("TZ", "UTC");
    tzset();
    // 2026-12-10 02:03:04.005 UTC
    const auto when = LogClock::time_point(std::chrono::milliseconds(1796868184005LL));
    EXPECT_EQ(FormatLogTimestamp(when), "20261210-02:03:04.005");
    EXPECT_EQ(FormatRotationStamp(when), "20261210020304005");
    EXPECT_EQ(FormatLogTimestamp(when).size(), 21u);

    const auto line = MakeLogLine(kLogTypeError, "Parvex", "disk full", when);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "[20261210-02:03:04.005][E][Parvex]: disk full");
    EXPECT_EQ(MakeLogLine(kLogTypeInfo, "N", "m", when).value(),
              "[20261210-02:03:04.005][I][N]: m");
    EXPECT_FALSE(MakeLogLine(3, "N", "m", when));
    EXPECT_FALSE(MakeLogLine(0, "N", "m", when));
}

TEST_F(LogLines, LevelRulesDecideWhichWritesProduceLines) {
    struct Case {
        int level;
        const char* op;
        std::function<void(CSyncMyLog&)> call;
        const char* expectedType; // nullptr: no line
    };
    const std::vector<Case> cases = {
        {2, "Info", [](CSyncMyLog& l) { l.Info("m"); }, nullptr},
        {2, "Error", [](CSyncMyLog& l) { l.Error("m"); }, "E"},
        {2, "InfoFormat", [](CSyncMyLog& l) { l.InfoFormat("%s", "m"); }, nullptr},
        {2, "ErrorFormat", [](CSyncMyLog& l) { l.ErrorFormat("%s", "m"); }, "E"},
        {1, "Info", [](CSyncMyLog& l) { l.Info("m"); }, "I"},
        {1, "Error", [](CSyncMyLog& l) { l.Error("m"); }, "E"},
        {1, "InfoFormat wide", [](CSyncMyLog& l) { l.InfoFormat(L"%ls", L"m"); }, "I"},
        {3, "Info", [](CSyncMyLog& l) { l.Info("m"); }, nullptr},
        {3, "Error", [](CSyncMyLog& l) { l.Error(L"m"); }, nullptr},
        {3, "ErrorFormat", [](CSyncMyLog& l) { l.ErrorFormat("%s", "m"); }, nullptr},
        {3, "Write 1", [](CSyncMyLog& l) { l.Write(kLogTypeInfo, "m"); }, "I"},
        {3, "Write 2 wide", [](CSyncMyLog& l) { l.Write(kLogTypeError, L"m"); }, "E"},
        {3, "WriteFormat 1", [](CSyncMyLog& l) { l.WriteFormat(kLogTypeInfo, "%c", 'm'); }, "I"},
        {1, "Write 3", [](CSyncMyLog& l) { l.Write(3, "m"); }, nullptr},
        {1, "WriteFormat 0", [](CSyncMyLog& l) { l.WriteFormat(0, L"m"); }, nullptr},
    };
    std::size_t expectedLines = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("level ") + std::to_string(c.level) + " " + c.op);
        log.SetLevel(c.level);
        c.call(log);
        const auto lines = Flush();
        if (c.expectedType == nullptr) {
            EXPECT_EQ(lines.size(), expectedLines);
            continue;
        }
        ASSERT_EQ(lines.size(), ++expectedLines);
        EXPECT_EQ(lines.back().substr(23), std::string("[") + c.expectedType + "][Parvex]: m");
    }
}

TEST_F(LogLines, MessagesAreWrittenAsGivenAndFormattedAsAsked) {
    log.SetLevel(1);
    log.Info("100% done, url=a%2Fb%s");
    log.Error(L"下载失败: 文件.txt");
    log.ErrorFormat("code %d: %s", 12029, "cannot connect");
    log.InfoFormat(L"%d %ls", 7, L"über");
    log.InfoFormat("no arguments");
    log.Info(static_cast<const char*>(nullptr));

    const auto lines = Flush();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(MessageOf(lines[0]), "100% done, url=a%2Fb%s");
    EXPECT_EQ(MessageOf(lines[1]), "下载失败: 文件.txt");
    EXPECT_EQ(MessageOf(lines[2]), "code 12029: cannot connect");
    EXPECT_EQ(MessageOf(lines[3]), "7 über");
    EXPECT_EQ(MessageOf(lines[4]), "no arguments");
    EXPECT_EQ(MessageOf(lines[5]), "");

    const std::regex shape(R"(\[\d{8}-\d{2}:\d{2}:\d{2}\.\d{3}\]\[[IE]\]\[Parvex\]: .*)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
    }
}

TEST_F(LogLines, LongFormattedMessagesAreWrittenWhole) {
    const std::string big(5000, 'x');
    log.ErrorFormat("[%s]", big.c_str());
    const auto lines = Flush();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "[" + big + "]");
}
