#include "engine/task_mgr.h"

#include "engine/delivery_url.h"
#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/retry_time.h"
#include "engine/secret_mask.h"
#include "engine/task_mgr_events.h"

#include <algorithm>
#include <optional>

namespace {

// Sub-task tables that could not be written are tried again at most this often.
constexpr std::uint64_t kCommitRetryIntervalMs = 1000;

// A loaded task resumes where it was (resume-on-load) or waits for the user.
void AdjustLoadedState(CTaskInfo& task, bool resumeOnLoad) {
    if (resumeOnLoad) {
        if (task.state == kStateWorking) {
            task.SetState(kStateWaiting);
        } else if (task.state == kStatePreparing) {
            task.SetState(kStateWaitPreparing);
        } else if (task.state == kStateError) {
            task.retry_time = TaskRetryTime(task.error_code);
        }
        return;
    }
    switch (task.state) {
    case kStateWaitPreparing:
    case kStatePreparing:
    case kStateWorking:
    case kStateWaiting:
        task.SetState(kStatePaused);
        break;
    case kStateError:
        task.retry_time = kRetryTimeDueNow;
        break;
    default:
        break;
    }
}

// The folder part of a local path; empty when it has none.
std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A link item's metadata address.
bool IsLinkItemAddress(const std::string& address) {
    return !DeliveryCodeOf(address).empty();
}

// A store flusher's step: calls `step` on the task's entry while there is one.
CStoreFlusher::FlushTask OnEntry(const CTaskMgr* tasks, void (CTaskEntry::*step)()) {
    return [tasks, step](const std::string& taskId) {
        if (const std::shared_ptr<CTaskEntry> entry = tasks->FindTask(taskId)) {
            (entry.get()->*step)();
        }
    };
}

} // namespace

CTaskMgr::CTaskMgr(ITaskMgrEvents* events)
    : m_events(events), m_flusher(OnEntry(this, &CTaskEntry::FlushSubTasks),
                                  OnEntry(this, &CTaskEntry::CloseSubTaskStore)) {}

CTaskMgr::~CTaskMgr() {
    m_flusher.Finish();
    FlushAll();
}

void CTaskMgr::RequestSubTaskFlush(const std::string& taskId) {
    m_flusher.Request(taskId);
}

std::shared_ptr<CTaskEntry> CTaskMgr::FindTask(const std::string& taskId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_entries.find(taskId);
    return it == m_entries.end() ? nullptr : it->second;
}

bool CTaskMgr::GetTask(const std::string& taskId, CTaskInfo& out) const {
    const EntryPtr entry = FindTask(taskId);
    if (entry == nullptr) {
        return false;
    }
    out = entry->Info();
    return true;
}

std::shared_ptr<CTaskEntry> CTaskMgr::AddTask(const CTaskInfo& task, bool notify, bool save) {
    if (task.task_id.empty() || FindTask(task.task_id) != nullptr) {
        return nullptr;
    }
    auto entry = std::make_shared<CTaskEntry>(m_events);
    entry->SetInfo(task);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Another thread may have added the same id meanwhile.
        if (!m_entries.emplace(task.task_id, entry).second) {
            return nullptr;
        }
    }
    if (notify) {
        TellTaskChanged(m_events, task.group_id, task.task_id, task.state);
    }
    if (save) {
        entry->StageIn(m_taskDb);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_order[task.task_id] = static_cast<std::uint64_t>(task.priority) * task.add_time;
    return entry;
}

std::shared_ptr<CTaskEntry> CTaskMgr::AddNewTask(CTaskInfo& task, bool notify) {
    if (task.task_id.empty()) {
        return nullptr;
    }
    for (;;) {
        if (std::shared_ptr<CTaskEntry> entry = AddTask(task, notify, true)) {
            return entry;
        }
        if (FindTask(task.task_id) == nullptr) {
            return nullptr;
        }
        task.add_time += 1;
        task.task_id = task.MakeTaskId();
    }
}

void CTaskMgr::UpdateTask(const CTaskInfo& task) {
    const EntryPtr entry = FindTask(task.task_id);
    if (entry == nullptr) {
        return;
    }
    entry->SetInfo(task);
    entry->StageIn(m_taskDb);
}

void CTaskMgr::RemoveTask(const std::string& taskId, bool keepInMemory) {
    EntryPtr entry;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_entries.find(taskId);
        if (it == m_entries.end()) {
            return;
        }
        entry = it->second;
        if (!keepInMemory) {
            m_entries.erase(it);
            m_order.erase(taskId);
        }
    }
    if (!keepInMemory) {
        entry->MarkRemoved(); // before the row goes, so no late save brings it back
    }
    entry->DeleteStore();
    m_taskDb.Delete(taskId);
    if (keepInMemory) {
        return;
    }
    const std::string groupId = entry->GroupId();
    entry.reset();
    TellTaskChanged(m_events, groupId, taskId, kStateNone);
}

std::vector<CTaskMgr::EntryPtr> CTaskMgr::Entries() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<EntryPtr> entries;
    entries.reserve(m_entries.size());
    for (const auto& [id, entry] : m_entries) {
        entries.push_back(entry);
    }
    return entries;
}

std::shared_ptr<CTaskEntry> CTaskMgr::GetSameTask(const CTaskInfo& task) const {
    for (const EntryPtr& entry : Entries()) {
        const CTaskInfo existing = entry->Info();
        if (existing.state == kStateCompleted) {
            continue;
        }
        if (existing.is_upload) {
            if (existing.box_file == task.box_file) {
                const std::string oldJson = MaskSecrets(existing.ToJson());
                const std::string newJson = MaskSecrets(task.ToJson());
                EngineLogF(kEngineLogError, "GetSameTask:oldTask:%s;newTask:%s", oldJson.c_str(),
                           newJson.c_str());
                return entry;
            }
        } else if (existing.local_file.path == task.local_file.path) {
            return entry;
        }
    }
    return nullptr;
}

std::shared_ptr<CTaskEntry> CTaskMgr::GetSameLinkItemTask(const CTaskInfo& task) const {
    const std::string address = WithAddressToken(task.box_file.metaurl, std::string());
    const std::string folder = ParentFolder(task.local_file.path);
    if (task.is_upload || !IsLinkItemAddress(address) || folder.empty()) {
        return nullptr;
    }
    for (const EntryPtr& entry : Entries()) {
        const CTaskInfo existing = entry->Info();
        if (existing.state != kStateCompleted && !existing.is_upload &&
            existing.group_id == task.group_id &&
            WithAddressToken(existing.box_file.metaurl, std::string()) == address &&
            ParentFolder(existing.local_file.path) == folder) {
            return entry;
        }
    }
    return nullptr;
}

template <typename Keep>
std::vector<std::string> CTaskMgr::ListWhere(std::uint32_t stateMask, Keep keep) const {
    std::vector<std::pair<std::string, EntryPtr>> entries;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        entries.assign(m_entries.begin(), m_entries.end());
    }
    std::vector<std::string> ids;
    for (const auto& [id, entry] : entries) {
        if ((entry->State() & stateMask) != 0 && keep(*entry)) {
            ids.push_back(id);
        }
    }
    return ids;
}

std::vector<std::string> CTaskMgr::ListTasks(std::uint32_t stateMask) const {
    return ListWhere(stateMask, [](const CTaskEntry&) { return true; });
}

std::vector<std::string> CTaskMgr::ListGroupTasks(const std::string& groupId,
                                                  std::uint32_t stateMask) const {
    return ListWhere(stateMask,
                     [&groupId](const CTaskEntry& entry) { return entry.GroupId() == groupId; });
}

std::vector<std::string> CTaskMgr::ListUploadTasks(std::uint32_t stateMask) const {
    return ListWhere(stateMask, [](const CTaskEntry& entry) { return entry.IsUpload(); });
}

std::vector<std::string> CTaskMgr::ListDownloadTasks(std::uint32_t stateMask) const {
    return ListWhere(stateMask, [](const CTaskEntry& entry) { return !entry.IsUpload(); });
}

void CTaskMgr::SortTasks(std::vector<std::string>& taskIds) const {
    // Keys are looked up once; an id without a key sorts after every keyed one, so the order
    // is total and the sort well defined.
    std::vector<std::pair<std::optional<std::uint64_t>, std::string>> keyed;
    keyed.reserve(taskIds.size());
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (std::string& id : taskIds) {
            const auto it = m_order.find(id);
            keyed.emplace_back(it == m_order.end() ? std::nullopt : std::optional(it->second),
                               std::move(id));
        }
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        if (a.first.has_value() != b.first.has_value()) {
            return a.first.has_value();
        }
        if (a.first != b.first) {
            return *a.first < *b.first;
        }
        return a.second < b.second;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        taskIds[i] = std::move(keyed[i].second);
    }
}

bool CTaskMgr::GetSubTaskOf(const std::string& taskId, const std::string& path,
                            CSubTaskInfo& out) const {
    const EntryPtr entry = FindTask(taskId);
    return entry != nullptr && entry->GetSubTask(path, out);
}

std::string CTaskMgr::GetDataServer(const std::string& taskId) const {
    const EntryPtr entry = FindTask(taskId);
    if (entry != nullptr) {
        std::string own = entry->Info().data_server;
        if (!own.empty()) {
            return own;
        }
    }
    return GetEngineContext().settings.DefaultDataServer();
}

void CTaskMgr::LoadAll() {
    Load(nullptr);
    m_loaded.store(true);
}

void CTaskMgr::LoadGroup(const std::string& groupId) {
    Load(&groupId);
}

void CTaskMgr::Load(const std::string* groupId) {
    m_taskDb.Init();
    std::vector<CTaskInfo> stored;
    m_taskDb.Load(stored);
    const bool resumeOnLoad = GetEngineContext().settings.ResumeOnLoad();
    std::vector<EntryPtr> added;
    for (CTaskInfo& task : stored) {
        if (groupId != nullptr && task.group_id != *groupId) {
            continue;
        }
        AdjustLoadedState(task, resumeOnLoad);
        if (EntryPtr entry = AddTask(task, true, false)) {
            added.push_back(std::move(entry));
        }
    }
    for (const EntryPtr& entry : added) {
        if (entry->State() != kStateWaitPreparing) {
            entry->LoadSubTasks();
        }
    }
}

void CTaskMgr::CheckSave() {
    m_taskDb.CheckSave();
    const std::uint64_t now = EngineNow();
    const std::uint64_t last = m_lastCommitRetry.load();
    if (now >= last && now - last <= kCommitRetryIntervalMs) {
        return;
    }
    m_lastCommitRetry.store(now);
    for (const EntryPtr& entry : Entries()) {
        if (entry->CommitPending()) {
            entry->CommitSubTasks();
        }
    }
}

void CTaskMgr::FlushAll() {
    m_taskDb.DoSave();
    for (const EntryPtr& entry : Entries()) {
        entry->FlushSubTasks();
    }
}
