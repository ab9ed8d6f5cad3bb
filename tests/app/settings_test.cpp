#include "app/data_folders.h"
#include "app/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>

using testing_support::ReadFile;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class Settings : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"PARVEX_HOME", dir.Path()};
    const std::string path = GetSettingsFilePath();
};

} // namespace

TEST_F(Settings, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
    EXPECT_EQ(ReadSetting(kSettingLanguage, "zh"), "zh");
    EXPECT_EQ(ReadSetting(kSettingDeliveryUrl, ""), "");

    ASSERT_TRUE(WriteSetting(kSettingLanguage, "cn"));
    EXPECT_EQ(ReadFile(path),
              "<?xml version=\"1.0\"?>\n<Parvex>\n\t<Language>cn</Language>\n</Parvex>\n");
    EXPECT_EQ(ReadSetting(kSettingLanguage, "zh"), "cn");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST_F(Settings, ValuesWithMarkupCharactersRoundTripEscaped) {
    const std::string url = "https://box.example/link/view/abc?x=1&y=<2>&z=\"3\" 下载";
    ASSERT_TRUE(WriteSetting(kSettingDeliveryUrl, url));
    EXPECT_EQ(ReadSetting(kSettingDeliveryUrl, ""), url);
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("&amp;y=&lt;2"), std::string::npos) << text;
    EXPECT_NE(text.find("下载"), std::string::npos) << "stored as UTF-8";
    EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
}

TEST_F(Settings, WritesKeepOtherElementsAndAppendNewKeysInOrder) {
    WriteFile(
        path,
        "<?xml version=\"1.0\"?>\n<Parvex>\n\t<Language>en</Language>\n"
        "\t<Custom a=\"1\">kept</Custom>\n\t<DeliveryUrl>https://x/link/view/c</DeliveryUrl>\n"
        "</Parvex>\n");
    ASSERT_TRUE(WriteSetting(kSettingSavePath, "/home/u/Downloads"));
    ASSERT_TRUE(WriteSetting(kSettingLanguage, "cn"));
    EXPECT_EQ(ReadFile(path), "<?xml version=\"1.0\"?>\n<Parvex>\n\t<Language>cn</Language>\n"
                              "\t<Custom a=\"1\">kept</Custom>\n"
                              "\t<DeliveryUrl>https://x/link/view/c</DeliveryUrl>\n"
                              "\t<SavePath>/home/u/Downloads</SavePath>\n</Parvex>\n");
}

TEST_F(Settings, ReadsFollowTheDocumentShape) {
    struct Case {
        const char* content;
        const char* expected; // for ReadSetting("Language", "zh")
    };
    const std::vector<Case> cases = {
        {"", "zh"},                                         // empty file
        {"<Parvex><Language>en</Language>", "zh"},          // malformed
        {"not xml at all", "zh"},                           // no document element
        {"<Other><Language>en</Language></Other>", "zh"},   // wrong root
        {"<Parvex><language>en</language></Parvex>", "zh"}, // names are case-sensitive
        {"<Parvex><Language/></Parvex>", ""},               // empty element: empty value
        {"<Parvex><Language><![CDATA[c<n]]></Language></Parvex>", "c<n"},
        {"\xEF\xBB\xBF<Parvex><Language>en</Language></Parvex>", "en"}, // byte-order mark
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        WriteFile(path, c.content);
        EXPECT_EQ(ReadSetting(kSettingLanguage, "zh"), c.expected);
    }
}

// The element a value is written to may hold more than one text piece (split by a comment or
// an instruction the reader skips, or by a cut-off file): the value written is the value read.
TEST_F(Settings, AWrittenValueIsReadBackWhateverItsElementHeld) {
    const char* contents[] = {
        "<Parvex><SavePath>/old<!-- note -->/tail</SavePath></Parvex>",
        "<Parvex><SavePath>/old<?pi x?>/tail</SavePath></Parvex>",
        "<Parvex><SavePath><x/>/old<y>/in</y>/tail</SavePath></Parvex>",
        "<Parvex><SavePath>/old<?xml version=\"1.0\"?>/tail</SavePath><Lang",
    };
    for (const char* content : contents) {
        SCOPED_TRACE(content);
        WriteFile(path, content);
        ASSERT_TRUE(WriteSetting(kSettingSavePath, "/new"));
        EXPECT_EQ(ReadSetting(kSettingSavePath, ""), "/new");
    }
}

TEST_F(Settings, AMalformedFileIsReplacedByTheNextWriteKeepingWhatCouldBeRead) {
    WriteFile(path, "<Parvex>\n\t<DeliveryUrl>https://x/link/view/c</DeliveryUrl>\n\t<Lang");
    EXPECT_EQ(ReadSetting(kSettingDeliveryUrl, "none"), "none");

    ASSERT_TRUE(WriteSetting(kSettingLanguage, "en"));
    EXPECT_EQ(ReadSetting(kSettingLanguage, "zh"), "en");
    EXPECT_EQ(ReadSetting(kSettingDeliveryUrl, "none"), "https://x/link/view/c");
}

TEST_F(Settings, AFileInAnotherEncodingIsRewrittenAsUtf8) {
    WriteFile(path, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                    "<Parvex><SavePath>/home/u/Gr\xFC\xDF"
                    "e</SavePath></Parvex>");
    EXPECT_EQ(ReadSetting(kSettingSavePath, ""), "/home/u/Grüße");

    ASSERT_TRUE(WriteSetting(kSettingLanguage, "en"));
    EXPECT_EQ(ReadSetting(kSettingSavePath, ""), "/home/u/Grüße");
    EXPECT_EQ(ReadFile(path).rfind("<?xml version=\"1.0\"?>\n", 0), 0u);
}

TEST_F(Settings, AnUnwritableFileIsReportedAndLeavesReadsWorking) {
    std::filesystem::create_directory(path); // neither readable nor replaceable as a file
    EXPECT_EQ(ReadSetting(kSettingLanguage, "zh"), "zh");
    EXPECT_FALSE(WriteSetting(kSettingLanguage, "cn"));
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_FALSE(WriteSetting("", "value")) << "an empty key is not an element name";
}
