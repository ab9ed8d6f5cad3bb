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
    {47, "链接中没有这一项：%s"},
    {48, "服务器返回的文件名无效：%s"},
    {49, "%s：失败（%d）：%s"},
    {50, "全部完成。文件在：%s"},
    {51, "没有任务"},
    {52, "没有这个任务：%s"},
    {53, "无法添加任务：%s"},
    {54, "正在读取链接内容。。。"},
    {55, "准备中"},
    {56, "已中断。运行 parvex-cli resume 可继续下载。"},
    {57, "用法：parvex-cli [选项] 命令\n\n命令：\n  list 链接地址 [--password 密码]\n      "
         "列出链接中的文件和文件夹\n  get 链接地址 [--password 密码] [--to 文件夹] [--select 路径 "
         "...]\n      下载链接（默认下载整个链接）到文件夹（默认当前文件夹），直到全部完成或失败\n "
         " status              显示未完成的任务\n  resume [任务编号 ...] "
         "继续下载未完成的任务（不带编号时跳过已暂停的任务）\n  pause 任务编号       暂停任务\n  "
         "remove 任务编号      移除任务（已下载完成的文件保留）\n\n选项：\n  --data-dir 文件夹    "
         "数据文件夹（设置、日志、任务数据库）\n  --lang en|cn        界面语言\n  --ca-file 文件   "
         "    信任此证书文件签发的服务器证书\n  --insecure          不验证服务器证书\n  --help     "
         "         显示本说明\n  --version           显示版本\n\n退出状态：0 全部完成；1 "
         "有任务失败；2 参数错误；3 无法打开链接。\n"},
    {58, "此链接需要密码，请用 --password 提供"},
    {59, "已添加：%s → %s"},
    {60, "已暂停：%s"},
    {61, "已移除：%s"},
    {62, "完成 %d 个，失败 %d 个"},
    {63, "另一个程序实例正在使用此数据文件夹"},
    {64, "未知的参数：%s"},
    {65, "%s 需要一个值"},
    {66, "缺少链接地址"},
    {67, "缺少任务编号"},
    {68, "--lang 只能是 en 或 cn"},
    {69, "运行 parvex-cli --help 查看用法"},
    {70, "缺少命令"},
    {71, "未知的命令：%s"},
    {72, "下载引擎没有及时响应"},
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
    {47, "The link has no item %s"},
    {48, "Invalid file name from the server: %s"},
    {49, "%s: failed（%d）：%s"},
    {50, "All done. The files are in %s"},
    {51, "No tasks"},
    {52, "No task with the id %s"},
    {53, "Could not add a task for %s"},
    {54, "Listing the link..."},
    {55, "Preparing"},
    {56, "Interrupted. Run parvex-cli resume to continue."},
    {57, "Usage: parvex-cli [options] command\n\nCommands:\n  list LINK [--password P]\n      list "
         "the files and folders of a share link\n  get LINK [--password P] [--to DIR] [--select "
         "PATH ...]\n      download the link (all of it by default) into DIR (default: the current "
         "folder)\n      and follow the downloads until every one completed or failed\n  status    "
         "          show the unfinished tasks\n  resume [ID ...]     continue the unfinished tasks "
         "(without ids, paused ones stay paused)\n  pause ID            pause a task\n  remove ID  "
         "         remove a task (files already finished are kept)\n\nOptions:\n  --data-dir DIR   "
         "   data folder (settings, log, task databases)\n  --lang en|cn        language of the "
         "messages\n  --ca-file FILE      trust server certificates issued by this CA file\n  "
         "--insecure          do not verify server certificates\n  --help              show this "
         "text\n  --version           show the version\n\nExit status: 0 all completed; 1 a task "
         "failed; 2 bad arguments; 3 the link could not be opened.\n"},
    {58, "This link needs a password: give it with --password"},
    {59, "Added: %s → %s"},
    {60, "Paused: %s"},
    {61, "Removed: %s"},
    {62, "%d completed, %d failed"},
    {63, "Another copy of the program is already using this data folder"},
    {64, "Unknown argument: %s"},
    {65, "%s needs a value"},
    {66, "The link address is missing"},
    {67, "The task id is missing"},
    {68, "--lang takes en or cn"},
    {69, "Run parvex-cli --help for usage"},
    {70, "No command given"},
    {71, "Unknown command: %s"},
    {72, "The download engine did not answer in time"},
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
