#include "app/lang_text.h"

#include "app/language.h"

#include <map>
#include <mutex>

namespace {

struct Entry {
    int number;
    const char* text;
};

constexpr Entry kChinese[] = {
    {0, "确定"},
    {1, "取消"},
    {2, "提示"},
    {3, "服务器内部错误"},
    {4, "链接下载工具"},
    {5, "添加"},
    {6, "开始"},
    {7, "暂停"},
    {8, "移除"},
    {9, "详情"},
    {10, "请选择要显示详情的文件夹"},
    {11, "文件名"},
    {12, "大小"},
    {13, "添加时间"},
    {14, "进度"},
    {15, "速度"},
    {16, "剩余时间"},
    {17, "等待"},
    {18, "暂停"},
    {19, "完成"},
    {20, "错误"},
    {21, "剩余："},
    {22, "大于1天"},
    {23, "添加下载任务"},
    {24, "链接地址："},
    {25, "链接密码："},
    {26, "（无密码请置空）"},
    {27, "请输入链接地址"},
    {28, "不能从链接下载工具下载该链接"},
    {29, "选择下载文件"},
    {30, "向上"},
    {31, "文件名"},
    {32, "大小"},
    {33, "修改时间"},
    {34, "下载到："},
    {35, "下载"},
    {36, "请选择要下载的文件"},
    {37, "请选择下载路径"},
    {38, "创建保存路径失败（%d）：%s"},
    {39, "任务详情"},
    {40, "错误（%d）"},
    {41, "完成（%d）"},
    {42, "正在（%d）"},
    {43, "无效的链接地址！"},
    {44, "无效的提取码！（%d）"},
    {45, "不能从链接下载工具下载该链接"},
    {46, "正在加载，请稍后。。。。"},
};

constexpr Entry kEnglish[] = {
    {0, "OK"},
    {1, "Cancel"},
    {2, "Tips"},
    {3, "Internal error"},
    {4, "Parvex"},
    {5, "Add"},
    {6, "Start"},
    {7, "Pause"},
    {8, "Remove"},
    {9, "Detail"},
    {10, "Please select the folder first"},
    {11, "FileName"},
    {12, "Size"},
    {13, "AddTime"},
    {14, "Progress"},
    {15, "Speed"},
    {16, "RemainTime"},
    {17, "Wait"},
    {18, "Pause"},
    {19, "Complete"},
    {20, "Error"},
    {21, "Remain："},
    {22, "more than 1 day"},
    {23, "Add Download Task"},
    {24, "Send Link URL："},
    {25, "Send Link Password："},
    {26, "（Keep empty if password not exist）"},
    {27, "Please input send link URL"},
    {28, "Can't download the Outer Chain from the Download Tool"},
    {29, "Select Download files"},
    {30, "UP"},
    {31, "FileName"},
    {32, "Size"},
    {33, "ModifyTime"},
    {34, "Save To："},
    {35, "Download"},
    {36, "Please select downloaded files "},
    {37, "Please select saved path"},
    {38, "Fail to create saved path（%d）：%s"},
    {39, "Task Detail"},
    {40, "Error（%d）"},
    {41, "Complete（%d）"},
    {42, "Downloading（%d）"},
    {43, "Invalid Link!"},
    {44, "invalid password （%d）"},
    {45, "Cannot download the link from the Link Download Tool"},
    {46, "Loading, please wait..."},
};

using TextMap = std::map<int, QString>;

template <std::size_t N>
TextMap BuildMap(const Entry (&entries)[N]) {
    TextMap map;
    for (const Entry& entry : entries) {
        map[entry.number] = QString::fromUtf8(entry.text);
    }
    return map;
}

// Filled once per language on first use; the windows and the command-line front end look texts
// up from more than one thread (listing threads format messages too), so the fill is guarded.
const TextMap& MapFor(int languageIndex) {
    static std::once_flag chineseOnce;
    static std::once_flag englishOnce;
    static TextMap chinese;
    static TextMap english;
    if (languageIndex == kLanguageChinese) {
        std::call_once(chineseOnce, [] { chinese = BuildMap(kChinese); });
        return chinese;
    }
    std::call_once(englishOnce, [] { english = BuildMap(kEnglish); });
    return english;
}

} // namespace

QString GetLangText(int number) {
    return GetLangText(number, GetLanguageIndex());
}

QString GetLangText(int number, int languageIndex) {
    const TextMap& map = MapFor(languageIndex);
    const auto found = map.find(number);
    return found != map.end() ? found->second : QString();
}

QString ErrorMessageText(const QString& message, int code) {
    const QString shown = message.isEmpty() ? GetLangText(lang_text::kInternalError) : message;
    return shown + u'(' + QString::number(code) + u')';
}
