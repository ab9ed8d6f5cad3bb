#include "engine/tovu_trans_mgr.h"

#include "engine/box_file_json.h"
#include "engine/capability_query.h"
#include "engine/change_queue.h"
#include "engine/changer_cleanup.h"
#include "engine/changer_new_tasks.h"
#include "engine/changer_task_state.h"
#include "engine/changer_task_token.h"
#include "engine/data_folder_lock.h"
#include "engine/delivery_url.h"
#include "engine/dispatch_task_worker.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/json_fields.h"
#include "engine/json_text.h"
#include "engine/message_texts.h"
#include "engine/secret_mask.h"
#include "engine/send_action_record_worker.h"
#include "engine/statistics_config.h"
#include "engine/task_mgr.h"
#include "log/debug_trace.h"
#include "net/http_options.h"
#include "net/link_auth.h"
#include "net/service_calls.h"
#include "net/service_request.h"
#include "pipeline/pipeline_workers.h"

#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace {

using json_fields::ReadBool;
using json_fields::ReadText;

std::string Arg(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

// A text the caller gives back with FreeString.
char* NewText(const std::string& text) {
    auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

// The id list of a taken set, logged with its size.
char* IdListText(const std::set<std::string>& ids, const char* logPrefix) {
    const std::string list = JoinIdList(ids);
    EngineLogF(kEngineLogInfo, "%s:size:%d:content:%s", logPrefix, static_cast<int>(ids.size()),
               list.c_str());
    return NewText(list);
}

void SetOut(char** out, const std::string& text) {
    if (out != nullptr) {
        *out = NewText(text);
    }
}

// The reply's error message, when it has one.
void SetMessage(char** out, const ServiceReply& reply) {
    if (out != nullptr) {
        *out = reply.errorMessage.empty() ? nullptr : NewText(reply.errorMessage);
    }
}

void SetCode(int* out, int code) {
    if (out != nullptr) {
        *out = code;
    }
}

// nullopt (logged) when the text is not a JSON object.
std::optional<BoxFileInfo> ReadBoxFile(const char* json, bool& isFolder) {
    isFolder = false;
    rapidjson::Document document;
    const std::string text = Arg(json);
    if (!ParseJsonObject(text, document)) {
        EngineLogF(kEngineLogError, "NewTask: unreadable box file: %s", MaskSecrets(text).c_str());
        return std::nullopt;
    }
    isFolder = ReadBool(document, "is_folder");
    return ReadBoxFileFields(document, "remain_download");
}

std::optional<CTaskInfo> NewTaskRecord(const char* groupId, const char* boxFileJson,
                                       const char* localPath, bool isUpload, int priority,
                                       const char* password) {
    bool isFolder = false;
    const std::optional<BoxFileInfo> box = ReadBoxFile(boxFileJson, isFolder);
    if (!box) {
        return std::nullopt;
    }
    CTaskInfo task = MakeTaskInfo(*box, Arg(localPath));
    task.is_upload = isUpload;
    if (isUpload) {
        std::error_code error;
        task.is_folder = std::filesystem::is_directory(task.local_file.path, error);
    } else {
        task.is_folder = isFolder;
    }
    task.priority = priority;
    task.group_id = Arg(groupId);
    task.pass = Arg(password);
    return task;
}

CTaskInfo DownloadTaskRecord(const char* groupId, const BoxFileInfo& box, const char* localPath,
                             bool isFolder, int priority) {
    CTaskInfo task = MakeTaskInfo(box, Arg(localPath));
    task.is_folder = isFolder;
    task.is_upload = false;
    task.priority = priority;
    task.group_id = Arg(groupId);
    return task;
}

// Objects of the running engine, owned here from StartEngine to ShutdownEngine.
struct EngineObjects {
    CDataFolderLock folderLock;
    std::unique_ptr<CTaskMgr> tasks;
    std::unique_ptr<CDispatchTaskWorker> dispatcher;
    // Engines whose threads did not all stop: never destroyed.
    std::vector<std::shared_ptr<void>> keptAlive;
    std::vector<std::unique_ptr<CDataFolderLock>> keptLocks;
};

EngineObjects& Objects() {
    static EngineObjects* objects = new EngineObjects();
    return *objects;
}

std::mutex g_lifecycleMutex;

// NewTaskAsync's result for a box file text that is not a JSON object: nothing was queued.
constexpr int kUnreadableItem = 1;

} // namespace

CTovuTransMgr* GetTransMgr() {
    // Never destroyed: engine threads that overran their stop bound may still report to it.
    static CTovuTransMgr* manager = [] {
        auto* created = new CTovuTransMgr();
        GetEngineContext().transMgr.store(created);
        return created;
    }();
    return manager;
}

CTovuTransMgr::~CTovuTransMgr() = default;

char* CTovuTransMgr::ResolveLinkAddress(const char* linkAddress, int* errorCode,
                                        char** errorMessage) {
    ServiceReply reply;
    const int code = ::ResolveLinkAddress(Arg(linkAddress), reply);
    SetCode(errorCode, code);
    if (code != 0) {
        SetMessage(errorMessage, reply);
        return nullptr;
    }
    return NewText(reply.resultText);
}

int CTovuTransMgr::AuthenticateLink(const char* serviceAddress, const char* deliveryCode,
                                    const char* password, char** token, char** errorMessage) {
    std::string tokenText;
    std::string message;
    const int code = ::AuthenticateLink(Arg(serviceAddress), Arg(deliveryCode), Arg(password),
                                        tokenText, message);
    if (code == 0) {
        SetOut(token, tokenText);
    } else if (errorMessage != nullptr) {
        *errorMessage = message.empty() ? nullptr : NewText(message);
    }
    return code;
}

bool CTovuTransMgr::IsLinkLoginVerified(const char* serviceAddress, const char* deliveryCode) {
    return ::IsLinkLoginVerified(Arg(serviceAddress), Arg(deliveryCode));
}

char* CTovuTransMgr::GetDeliveryMetadata(const char* serviceAddress, const char* linkPath,
                                         const char* accessToken, int* errorCode,
                                         char** errorMessage, std::int64_t offset,
                                         const std::atomic<bool>* stop) {
    const std::string url = Arg(serviceAddress) + "/v2/delivery/metadata/" + Arg(linkPath) +
                            "?token=" + Arg(accessToken);
    return GetJsonPage(url.c_str(), errorCode, errorMessage, offset, stop);
}

char* CTovuTransMgr::GetJsonPage(const char* url, int* errorCode, char** errorMessage,
                                 std::int64_t offset, const std::atomic<bool>* stop) {
    ServiceReply reply;
    const int code = ::GetJsonPage(Arg(url), offset, reply, stop);
    SetCode(errorCode, code);
    if (code != 0) {
        SetMessage(errorMessage, reply);
        return nullptr;
    }
    return NewText(reply.body);
}

char* CTovuTransMgr::GetDownloadUrl(const char* url, int* errorCode, char** errorMessage) {
    ServiceReply reply;
    if (::GetJson(Arg(url), reply) != 0) {
        SetMessage(errorMessage, reply);
        return nullptr;
    }
    const int code = CheckErrorReply(reply);
    SetCode(errorCode, code);
    if (code != 0) {
        return nullptr;
    }
    rapidjson::Document document;
    if (!ParseJsonObject(reply.body, document)) {
        return NewText(std::string());
    }
    return NewText(ReadText(document, "downloadUrl"));
}

char* CTovuTransMgr::GetContentLength(const char* url, std::int64_t* size, int* errorCode,
                                      char** errorMessage) {
    ServiceReply reply;
    std::int64_t length = -1;
    const int code = ::GetWithContentLength(Arg(url), reply, length);
    if (size != nullptr) {
        *size = length;
    }
    if (code != 0) {
        SetMessage(errorMessage, reply);
        return nullptr;
    }
    SetCode(errorCode, 0);
    return NewText(reply.body);
}

void CTovuTransMgr::SetOption(int type, const char* value) {
    GetEngineContext().settings.SetOption(type, Arg(value));
}

int CTovuTransMgr::StartEngine() {
    std::lock_guard lifecycle(g_lifecycleMutex);
    EngineContext& context = GetEngineContext();
    EngineObjects& objects = Objects();
    if (objects.dispatcher != nullptr) {
        return 0;
    }
    if (!objects.folderLock.Acquire(context.settings.DataFolder())) {
        EngineLogF(kEngineLogError, "StartEngine: the data folder is in use: %s",
                   context.settings.DataFolder().c_str());
        return engine_code::kDataFolderInUse;
    }
    SetHttpShutdown(false);
    InstallPipelineWorkers();
    context.settings.SetIncrementalSync(QueryIncrementalSync());
    context.transMgr.store(this);
    objects.tasks = std::make_unique<CTaskMgr>(this);
    context.taskMgr.store(objects.tasks.get());
    objects.dispatcher = std::make_unique<CDispatchTaskWorker>(*objects.tasks);
    objects.dispatcher->SetAutoDelete(false);
    context.dispatcher.store(objects.dispatcher.get());
    objects.dispatcher->Start();
    if (context.statisticsWorker.load() == nullptr &&
        IsPublicServiceAddress(context.settings.ServiceAddress())) {
        auto* statistics = new CSendActionRecordWorker();
        statistics->SetAutoDelete(false);
        context.statisticsWorker.store(statistics);
        statistics->Start();
    }
    return 0;
}

void CTovuTransMgr::ShutdownEngine() {
    std::lock_guard lifecycle(g_lifecycleMutex);
    EngineContext& context = GetEngineContext();
    EngineObjects& objects = Objects();
    if (objects.dispatcher == nullptr) {
        return;
    }
    // The dispatcher first, so it launches nothing while the others stop; then every transfer
    // is cancelled and every worker asked to stop and joined within the bound.
    const bool dispatcherStopped = objects.dispatcher->StopAndWait(CWorkerBase::TerminateTimeout());
    SetHttpShutdown(true);
    const std::size_t stillRunning = TerminateAllWorkers();
    ReapFinishedWorkers();
    const bool allStopped = dispatcherStopped && stillRunning == 0;
    if (allStopped) {
        // What the workers reported while they stopped (parts written, files finished) is
        // recorded before the stores are flushed.
        objects.dispatcher->ApplyQueuedChanges();
    }
    // The statistics worker, once created, lives as long as the process: a worker that
    // overran its stop bound may still report to it, and it is started only once.
    context.dispatcher.store(nullptr);
    context.taskMgr.store(nullptr);
    context.speedMeter.Clear();
    SetEngineLogHook(nullptr);
    if (allStopped) {
        objects.dispatcher.reset();
        objects.tasks.reset(); // flushes the stores
        objects.folderLock.Release();
        return;
    }
    // A thread that missed its bound may still use the container or queue on the dispatcher:
    // both stay alive for the rest of the process, and so does the lock on the data folder,
    // since that thread may still write its stores.
    DebugTrace("ShutdownEngine: %zu worker(s) did not stop; the engine is kept alive\n",
               stillRunning + (dispatcherStopped ? 0 : 1));
    objects.tasks->FlushAll();
    objects.keptAlive.push_back(std::move(objects.dispatcher));
    objects.keptAlive.push_back(std::move(objects.tasks));
    objects.keptLocks.push_back(std::make_unique<CDataFolderLock>(std::move(objects.folderLock)));
}

void CTovuTransMgr::SetLogHook(void (*hook)(int level, const char* text)) {
    SetEngineLogHook(hook);
}

char* CTovuTransMgr::AddNewTask(const CTaskInfo& task, const char* logPrefix) {
    EngineLogF(kEngineLogInfo, "%s%s", logPrefix, MaskSecrets(task.ToJson()).c_str());
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    if (tasks == nullptr) {
        return nullptr;
    }
    if (const std::shared_ptr<CTaskEntry> same = tasks->GetSameTask(task)) {
        const CTaskInfo existing = same->Info();
        if (!existing.group_id.empty() && existing.group_id == task.group_id) {
            return NewText(existing.task_id);
        }
        return nullptr;
    }
    CTaskInfo added = task;
    if (tasks->AddNewTask(added, true) == nullptr) {
        return nullptr;
    }
    return NewText(added.task_id);
}

char* CTovuTransMgr::NewTask(const char* groupId, const char* boxFileJson, const char* localPath,
                             bool isUpload, int priority, const char* password) {
    const std::optional<CTaskInfo> task =
        NewTaskRecord(groupId, boxFileJson, localPath, isUpload, priority, password);
    return task ? AddNewTask(*task, "CTovuTransMgr::NewTask:") : nullptr;
}

char* CTovuTransMgr::NewUrlDownloadTask(const char* groupId, const char* downloadUrl,
                                        const char* localPath, int priority) {
    BoxFileInfo box;
    box.path = Arg(downloadUrl);
    return AddNewTask(DownloadTaskRecord(groupId, box, localPath, false, priority),
                      "CTovuTransMgr::NewUrlDownloadTask:");
}

char* CTovuTransMgr::NewDeliveryDownloadTask(const char* groupId, const char* downloadUrl,
                                             const char* localPath, bool isFolder,
                                             const char* metadataUrl, int priority,
                                             const char* remainCountUrl, const char* password) {
    BoxFileInfo box;
    box.path = Arg(downloadUrl);
    box.metaurl = Arg(metadataUrl);
    box.remaincounturl = Arg(remainCountUrl);
    CTaskInfo task = DownloadTaskRecord(groupId, box, localPath, isFolder, priority);
    task.pass = Arg(password);
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    // The link added again, maybe because its task's token expired: that task goes on.
    if (const std::shared_ptr<CTaskEntry> same =
            tasks != nullptr ? tasks->GetSameLinkItemTask(task) : nullptr) {
        const std::string id = same->Info().task_id;
        EngineLogF(kEngineLogInfo, "CTovuTransMgr::NewDeliveryDownloadTask: renews %s", id.c_str());
        QueueNew<CChangerRenewLinkTask>(id, AddressToken(task.box_file.metaurl), task.pass);
        return NewText(id);
    }
    return AddNewTask(task, "CTovuTransMgr::NewDeliveryDownloadTask:");
}

int CTovuTransMgr::NewTaskAsync(const char* groupId, const char* boxFileJson, const char* localPath,
                                bool isUpload, int priority, const char* password) {
    std::optional<CTaskInfo> task =
        NewTaskRecord(groupId, boxFileJson, localPath, isUpload, priority, password);
    if (!task) {
        return kUnreadableItem;
    }
    task->task_id.clear(); // given when the change is applied
    EngineLogF(kEngineLogInfo, "CTovuTransMgr::NewTaskAsync:%s",
               MaskSecrets(task->ToJson()).c_str());
    QueueNew<CChangerAddNewTask>(std::move(*task));
    return 0;
}

char* CTovuTransMgr::GetChangedTaskIdList(const char* groupId) {
    return IdListText(m_changed.TakeTasks(Arg(groupId)), "CTovuTransMgr::GetChangedTaskIdList");
}

char* CTovuTransMgr::GetChangedSubTaskIdList(const char* taskId) {
    return IdListText(m_changed.TakeSubTasks(Arg(taskId)),
                      "CTovuTransMgr::GetChangedSubTaskIdList");
}

char* CTovuTransMgr::GetTaskInfo(const char* taskId) {
    const std::string id = Arg(taskId);
    CTaskInfo task;
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    const std::shared_ptr<CTaskEntry> entry = tasks != nullptr ? tasks->FindTask(id) : nullptr;
    if (entry != nullptr) {
        task = entry->InfoWithReportedBytes();
    } else {
        task.task_id = id;
    }
    if (task.state == kStateNone) {
        DelChangedTaskIdFromSet(task.group_id, id);
    }
    return NewText(task.ToJson());
}

void CTovuTransMgr::QueueTaskState(const char* taskId, std::uint32_t state, const char* logPrefix) {
    const std::string id = Arg(taskId);
    EngineLogF(kEngineLogInfo, "%s%s", logPrefix, id.c_str());
    QueueNew<CChangerChangeTaskState>(id, state);
}

void CTovuTransMgr::PauseTask(const char* taskId) {
    QueueTaskState(taskId, kStatePaused, "CTovuTransMgr::PauseTask:");
}

void CTovuTransMgr::StopTask(const char* taskId) {
    QueueTaskState(taskId, kStateStop, "CTovuTransMgr::StopTask:");
}

void CTovuTransMgr::StartTask(const char* taskId) {
    QueueTaskState(taskId, kStateWaiting, "CTovuTransMgr::StartTask:");
}

void CTovuTransMgr::DeleteTask(const char* taskId) {
    QueueTaskState(taskId, CChangerChangeTaskState::kDelete, "CTovuTransMgr::DeleteTask:");
}

char* CTovuTransMgr::GetTaskIdList(const char* groupId, std::uint32_t stateMask) {
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    if (tasks == nullptr) {
        return nullptr;
    }
    std::vector<std::string> ids = tasks->ListGroupTasks(Arg(groupId), stateMask);
    if (ids.empty()) {
        return nullptr;
    }
    tasks->SortTasks(ids);
    return NewText(JoinIdList(ids));
}

int CTovuTransMgr::GetTaskCount(const char* groupId, std::uint32_t stateMask) {
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    return tasks == nullptr
               ? 0
               : static_cast<int>(tasks->ListGroupTasks(Arg(groupId), stateMask).size());
}

char* CTovuTransMgr::GetSubTaskIdList(const char* taskId, int skip, int max) {
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    const std::shared_ptr<CTaskEntry> entry =
        tasks != nullptr ? tasks->FindTask(Arg(taskId)) : nullptr;
    if (entry == nullptr) {
        return nullptr;
    }
    constexpr std::uint32_t kAllStates = 0xFFFFFFFFu;
    const std::vector<std::string> paths =
        entry->ListSubTasks(kAllStates, -1, static_cast<std::size_t>(std::max(skip, 0)), max);
    if (paths.empty()) {
        return nullptr;
    }
    return NewText(JoinIdList(paths));
}

char* CTovuTransMgr::GetSubTaskInfo(const char* taskId, const char* subTaskPath) {
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    CSubTaskInfo sub;
    if (tasks == nullptr || !tasks->GetSubTaskOf(Arg(taskId), Arg(subTaskPath), sub)) {
        return nullptr;
    }
    return NewText(sub.ToJson());
}

template <typename Operation>
void CTovuTransMgr::ForGroup(const char* groupId, const char* logPrefix, Operation operation) {
    const std::string group = Arg(groupId);
    EngineLogF(kEngineLogInfo, "%s%s", logPrefix, group.c_str());
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    if (tasks == nullptr) {
        return;
    }
    constexpr std::uint32_t kEveryState = 255;
    for (const std::string& id : tasks->ListGroupTasks(group, kEveryState)) {
        (this->*operation)(id.c_str());
    }
}

void CTovuTransMgr::StopGroup(const char* groupId) {
    ForGroup(groupId, "CTovuTransMgr::StopGroup:", &CTovuTransMgr::StopTask);
}

void CTovuTransMgr::PauseGroup(const char* groupId) {
    ForGroup(groupId, "CTovuTransMgr::PauseGroup:", &CTovuTransMgr::PauseTask);
}

void CTovuTransMgr::StartGroup(const char* groupId) {
    ForGroup(groupId, "CTovuTransMgr::StartGroup:", &CTovuTransMgr::StartTask);
}

void CTovuTransMgr::DeleteGroup(const char* groupId) {
    ForGroup(groupId, "CTovuTransMgr::DeleteGroup:", &CTovuTransMgr::DeleteTask);
}

void CTovuTransMgr::FreeString(char* text) {
    std::free(text);
}

void CTovuTransMgr::LoadTaskFromDb(const char* groupId) {
    if (GetEngineContext().settings.LoadAtStart()) {
        return;
    }
    const std::string group = Arg(groupId);
    EngineLogF(kEngineLogInfo, "CTovuTransMgr::LoadTaskFromDb:%s", group.c_str());
    QueueNew<CChangerLoadTaskFromDb>(false, group);
}

void CTovuTransMgr::LoadAllTaskFromDb() {
    if (GetEngineContext().settings.LoadAtStart()) {
        return;
    }
    EngineLog(kEngineLogInfo, "CTovuTransMgr::LoadAllTaskFromDb");
    QueueNew<CChangerLoadTaskFromDb>(true, std::string());
}

bool CTovuTransMgr::IsLoaded() {
    CTaskMgr* tasks = GetEngineContext().taskMgr.load();
    return tasks != nullptr && tasks->IsLoaded();
}

void CTovuTransMgr::AddChangedTaskId(const std::string& groupId, const std::string& taskId) {
    EngineLogF(kEngineLogInfo, "CTovuTransMgr::AddChangedTaskId:strGroupId:%s;strTaskId:%s",
               groupId.c_str(), taskId.c_str());
    m_changed.AddTask(groupId, taskId);
}

void CTovuTransMgr::AddChangedSubTaskId(const std::string& taskId, const std::string& path) {
    m_changed.AddSubTask(taskId, path);
}

void CTovuTransMgr::QueueDeleteTaskDb(const std::string& taskId) {
    QueueNew<CChangerDeleteTaskDb>(taskId);
}

void CTovuTransMgr::DelChangedTaskIdFromSet(const std::string& groupId, const std::string& taskId) {
    if (m_changed.RemoveTask(groupId, taskId)) {
        EngineLogF(kEngineLogInfo,
                   "CTovuTransMgr::DelChangedTaskIdFromSet:strGroupId:%s;strTaskId:%s",
                   groupId.c_str(), taskId.c_str());
    }
}
