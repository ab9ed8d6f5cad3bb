#include "app/language.h"
#include "support/temp_dir.h"
#include "views/task_texts.h"

#include <gtest/gtest.h>

#include <ctime>

TEST(TaskTexts, SizeTexts) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 KB"},
        {1, "1 KB"},
        {1023, "1 KB"},
        {1536, "1 KB"},
        {1048575, "1023 KB"},
        {1048576, "1.00 MB"},
        {1572864, "1.50 MB"},
        {1073741823, "1024.00 MB"},
        {1073741824, "1.00 GB"},
        {5ull << 40, "5120.00 GB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SizeText(c.bytes), c.text) << c.bytes;
    }
    EXPECT_EQ(SpeedText(524288), "512 KB/S");
    EXPECT_EQ(SpeedText(1310720), "1.25 MB/S");
}

TEST(TaskTexts, RemainingTimeAndPercent) {
    ApplyLanguage(kLanguageEnglish);
    EXPECT_EQ(RemainingText(12345678 + 10, 10, 1000), QString::fromUtf8("Remain：03:25:45"));
    EXPECT_EQ(RemainingText(100, 0, 0), QString::fromUtf8("Remain：more than 1 day"));
    EXPECT_EQ(RemainingText(86400, 0, 1), QString::fromUtf8("Remain：more than 1 day"));
    EXPECT_EQ(RemainingText(86399, 0, 1), QString::fromUtf8("Remain：23:59:59"));
    EXPECT_EQ(RemainingText(10, 20, 5), QString::fromUtf8("Remain：00:00:00"));
    ApplyLanguage(kLanguageChinese);
    EXPECT_EQ(RemainingText(1, 0, 0), QString::fromUtf8("剩余：大于1天"));

    EXPECT_EQ(ProgressPercent(0, 0), 0);
    EXPECT_EQ(ProgressPercent(3, 1), 33);
    EXPECT_EQ(ProgressPercent(1ull << 62, 1ull << 61), 50);
    EXPECT_EQ(ProgressPercent(100, 250), 100);
}

TEST(TaskTexts, NamesAndDates) {
    EXPECT_EQ(DisplayName("/save/Reports/q1.xlsx"), "q1.xlsx");
    EXPECT_EQ(DisplayName("/save/Reports/"), "Reports");
    EXPECT_EQ(DisplayName("C:\\save\\a.txt"), "a.txt");
    EXPECT_EQ(DisplayName("no-separator"), "");

    const QString seventy = QString(66, u'n') + ".docx";
    EXPECT_EQ(ShortenedName(seventy), QString(60, u'n') + "....docx");
    EXPECT_EQ(ShortenedName(QString(59, u'x')), QString(59, u'x'));
    EXPECT_EQ(ShortenedName(QString(61, u'x')), QString(60, u'x') + "...");
    // Characters outside the basic plane count once and are never split.
    QString wide;
    for (int i = 0; i < 61; ++i) {
        wide += QString::fromUtf8("😀");
    }
    EXPECT_EQ(ShortenedName(wide), wide.left(120) + "...");

    testing_support::ScopedEnv tz("TZ", "UTC");
    tzset();
    EXPECT_EQ(DateText(0), "");
    EXPECT_EQ(DateText(1717236000123ull), "2024-06-01 10:00:00");
}
