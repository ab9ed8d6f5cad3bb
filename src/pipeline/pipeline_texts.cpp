#include "pipeline/pipeline_texts.h"

#include "engine/engine_context.h"
#include "engine/message_texts.h"

namespace {

bool English() {
    return PlatformTextsInEnglish(GetEngineContext().settings.Language());
}

} // namespace

std::string NoDownloadPermissionText() {
    return English() ? "No download permissions" : "无下载权限";
}

std::string WriteFailedText() {
    return English() ? "Write Local File Fail!" : "本地文件写入失败！";
}
