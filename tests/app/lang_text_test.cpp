#include "app/lang_text.h"
#include "app/language.h"

#include <gtest/gtest.h>

TEST(LangText, EveryWindowTextExistsInBothLanguages) {
    for (int number = 0; number <= 46; ++number) {
        EXPECT_FALSE(GetLangText(number, kLanguageChinese).isEmpty()) << number;
        EXPECT_FALSE(GetLangText(number, kLanguageEnglish).isEmpty()) << number;
    }
}

TEST(LangText, TextsKeepTheirExactPunctuationAndCase) {
    struct Case {
        int number;
        const char* chinese;
        const char* english;
    } cases[] = {
        {4, "链接下载工具", "Parvex"},
        {21, "剩余：", "Remain："},
        {26, "（无密码请置空）", "（Keep empty if password not exist）"},
        {36, "请选择要下载的文件", "Please select downloaded files "},
        {38, "创建保存路径失败（%d）：%s", "Fail to create saved path（%d）：%s"},
        {43, "无效的链接地址！", "Invalid Link!"},
        {44, "无效的提取码！（%d）", "invalid password （%d）"},
        {45, "不能从链接下载工具下载该链接",
         "Cannot download the link from the Link Download Tool"},
        {46, "正在加载，请稍后。。。。", "Loading, please wait..."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetLangText(c.number, kLanguageChinese), QString::fromUtf8(c.chinese));
        EXPECT_EQ(GetLangText(c.number, kLanguageEnglish), QString::fromUtf8(c.english));
    }
    // Separate numbers, equal texts: the windows address them by number.
    EXPECT_EQ(GetLangText(11, kLanguageEnglish), GetLangText(31, kLanguageEnglish));
    EXPECT_EQ(GetLangText(28, kLanguageChinese), GetLangText(45, kLanguageChinese));
    EXPECT_NE(GetLangText(28, kLanguageEnglish), GetLangText(45, kLanguageEnglish));
}

TEST(LangText, UnknownNumbersAreEmptyAndTheCurrentLanguageChoosesTheColumn) {
    for (int number : {-1, 1000}) {
        EXPECT_TRUE(GetLangText(number, kLanguageChinese).isEmpty());
        EXPECT_TRUE(GetLangText(number, kLanguageEnglish).isEmpty());
    }
    ApplyLanguage(kLanguageChinese);
    EXPECT_EQ(GetLangText(4), QString::fromUtf8("链接下载工具"));
    ApplyLanguage(kLanguageEnglish);
    EXPECT_EQ(GetLangText(4), "Parvex");
    ApplyLanguage(7); // anything but 1 is English
    EXPECT_EQ(GetLangText(19), "Complete");
}

TEST(LangText, ErrorMessagesFallBackToTheInternalErrorText) {
    ApplyLanguage(kLanguageEnglish);
    EXPECT_EQ(ErrorMessageText("wrong password", 20003), "wrong password(20003)");
    EXPECT_EQ(ErrorMessageText("", 12029), "Internal error(12029)");
    EXPECT_EQ(ErrorMessageText("50%1 %2 off", 5), "50%1 %2 off(5)");
    ApplyLanguage(kLanguageChinese);
    EXPECT_EQ(ErrorMessageText("", 0), QString::fromUtf8("服务器内部错误(0)"));
}

// Every format text takes the same arguments in both languages: LangFormat passes them
// unchecked.
TEST(LangText, FormatTextsTakeTheSameArgumentsInBothLanguages) {
    const auto specifiers = [](const QString& text) {
        QString found;
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == u'%') {
                found += text[i + 1];
                ++i;
            }
        }
        return found;
    };
    for (int number = -1; number <= 200; ++number) {
        const QString chinese = GetLangText(number, kLanguageChinese);
        const QString english = GetLangText(number, kLanguageEnglish);
        EXPECT_EQ(chinese.isEmpty(), english.isEmpty()) << number;
        EXPECT_EQ(specifiers(chinese), specifiers(english)) << number;
    }
}
