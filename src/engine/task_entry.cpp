#include "engine/task_entry.h"

#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/part_layout.h"
#include "engine/protect_text.h"
#include "engine/secret_mask.h"
#include "engine/sub_task_fill.h"
#include "engine/task_mgr_events.h"
#include "store/task_db.h"

#include <algorithm>

namespace {

std::string ProtectedForm(const std::string& password) {
    return password.empty() ? std::string() : ProtectText(password);
}

} // namespace

CTaskEntry::CTaskEntry(ITaskMgrEvents* events) : m_events(events) {}

CTaskInfo CTaskEntry::Info() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info;
}

CTaskInfo CTaskEntry::InfoWithReportedBytes() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.UpdateReportedBytes();
    return m_info;
}

std::uint32_t CTaskEntry::State() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.state;
}

std::string CTaskEntry::GroupId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.group_id;
}

bool CTaskEntry::IsUpload() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.is_upload;
}

std::string CTaskEntry::LocalPath() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.local_file.path;
}

void CTaskEntry::SetInfo(const CTaskInfo& task) {
    bool first = false;
    bool stateChanges = false;
    bool passChanges = false; // the link was added again with another password
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        first = !m_hasInfo;
        stateChanges = !first && m_info.state != task.state;
        passChanges = !first && m_info.pass != task.pass;
    }
    if (first) {
        m_subTaskDb.Init(task.task_id);
        std::string protectedPassword = ProtectedForm(task.pass);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_info = task;
        m_hasInfo = true;
        m_protectedPassword = std::move(protectedPassword);
        UpdateUsedTimeLocked();
        return;
    }
    if (stateChanges) {
        FlushSubTasks();
    }
    std::optional<std::string> protectedPassword;
    if (passChanges) {
        protectedPassword = ProtectedForm(task.pass);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (protectedPassword) {
            m_protectedPassword = std::move(*protectedPassword);
        }
        // A record copied out earlier may carry counters that changed since: they stay the
        // entry's own.
        const CTaskInfo kept = m_info;
        m_info = task;
        m_info.sub_task_count = kept.sub_task_count;
        m_info.size = kept.size;
        m_info.send_bytes = kept.send_bytes;
        m_info.used_time = kept.used_time;
        m_info.complete_bytes = m_bytesTotal;
        m_info.complete_sub_task_count = static_cast<std::uint32_t>(m_completed.size());
        // The progress reported while Working never goes back; entering Working starts it anew.
        if (task.state == kStateWorking && kept.state == kStateWorking) {
            m_info.reported_bytes = std::max(kept.reported_bytes, task.reported_bytes);
        }
        UpdateUsedTimeLocked();
    }
    TellTaskChanged(m_events, task.group_id, task.task_id, task.state);
    if (task.state == kStateCompleted && GetEngineContext().settings.DeleteFinished() &&
        m_events != nullptr) {
        m_events->QueueDeleteTaskDb(task.task_id);
    }
}

void CTaskEntry::UpdateUsedTime() {
    std::lock_guard<std::mutex> lock(m_mutex);
    UpdateUsedTimeLocked();
}

void CTaskEntry::UpdateUsedTimeLocked() {
    if (m_info.state != kStateWorking) {
        m_lastActivity = 0;
        return;
    }
    const std::uint64_t now = EngineNow();
    if (m_lastActivity != 0 && m_lastActivity < now) {
        m_info.used_time += now - m_lastActivity;
    }
    m_lastActivity = now;
}

namespace {

struct StoredCheck {
    bool pathValid = true;
    bool pathReplaced = false;
    bool bitmapReset = false;
};

// What stored details may not decide: the local path is derived again from the task's folder
// and the service path, and a download's part bitmap must fit the file (one that does not is
// reset, so its parts are fetched again).
StoredCheck RevalidateStored(const CTaskInfo& task, const SubTaskSummary& summary,
                             CSubTaskInfo& sub, const RelativePartTaken& taken) {
    StoredCheck check;
    CSubTaskInfo derived;
    check.pathValid = FillSubTaskInfo(task, summary, derived, taken);
    if (sub.local_file.path != derived.local_file.path) {
        sub.local_file.path = derived.local_file.path;
        check.pathReplaced = true;
    }
    if (!sub.is_upload && sub.trans_bitmap.BitCount() != 0 &&
        sub.trans_bitmap.BitCount() != PartCount(sub.size, PartSizeFor(false))) {
        sub.trans_bitmap = PartBitmap();
        check.bitmapReset = true;
    }
    return check;
}

} // namespace

bool CTaskEntry::GetSubTask(const std::string& path, CSubTaskInfo& out,
                            bool* localPathValid) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    bool valid = true;
    if (localPathValid == nullptr) {
        localPathValid = &valid;
    }
    *localPathValid = true;
    out.task_id = m_info.task_id;
    if (const auto it = m_active.find(path); it != m_active.end()) {
        const SubTaskSummary& summary = it->second;
        if (!summary.json.empty()) {
            CSubTaskInfo read = out;
            read.sub_task_path = summary.path;
            read.size = summary.size;
            read.state = summary.state;
            if (read.FromJson(summary.json)) {
                read.is_folder = summary.is_folder;
                if (summary.transmethod != 1) {
                    read.transmethod = summary.transmethod;
                }
                if (summary.rsyncstate != 1) {
                    read.rsyncstate = summary.rsyncstate;
                }
                *localPathValid = RevalidateStored(m_info, summary, read, SiblingTaken()).pathValid;
                out = std::move(read);
                return true;
            }
            // Unreadable details: start the sub-task again from its summary rather than hand
            // out a record without a local path.
            EngineLogF(kEngineLogError, "GetSubTask:unreadable sub_task_info:%s:%s",
                       m_info.task_id.c_str(), path.c_str());
        }
        *localPathValid = FillSubTaskInfo(m_info, summary, out, SiblingTaken());
        return true;
    }
    for (const SubTaskMap* collection : {&m_waiting, &m_completed}) {
        if (const auto it = collection->find(path); it != collection->end()) {
            *localPathValid = FillSubTaskInfo(m_info, it->second, out, SiblingTaken());
            return true;
        }
    }
    return false;
}

void CTaskEntry::StoreSubTask(const CSubTaskInfo& sub) {
    const std::string& path = sub.sub_task_path;
    std::string groupId;
    std::string taskId;
    std::uint32_t taskState = kStateNone;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        SubTaskMap* from = &m_active;
        auto it = m_active.find(path);
        if (it == m_active.end()) {
            from = &m_waiting;
            it = m_waiting.find(path);
        }
        if (it != from->end()) {
            SubTaskSummary& summary = it->second;
            summary.state = sub.state;
            summary.transmethod = sub.transmethod;
            summary.rsyncstate = sub.rsyncstate;
            SubTaskMap* to = &m_active;
            if (sub.state == kStateCompleted) {
                summary.json.clear();
                to = &m_completed;
            } else {
                summary.json = sub.ToJson();
            }
            // Staged under the entry lock, so the store gets the changes in their order.
            m_subTaskDb.Save(summary);
            if (to != from) {
                to->insert_or_assign(path, std::move(summary));
                from->erase(it);
            }
        }
        m_info.complete_sub_task_count = static_cast<std::uint32_t>(m_completed.size());
        groupId = m_info.group_id;
        taskId = m_info.task_id;
        taskState = m_info.state;
    }
    TellTaskChanged(m_events, groupId, taskId, taskState);
    if (m_events != nullptr) {
        m_events->AddChangedSubTaskId(taskId, path);
    }
    UpdateUsedTime();
}

void CTaskEntry::ChangeKeptSubTasks(const std::function<bool(CSubTaskInfo&)>& change) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [path, summary] : m_active) {
        if (summary.json.empty()) {
            continue;
        }
        CSubTaskInfo sub;
        sub.task_id = m_info.task_id;
        sub.sub_task_path = summary.path;
        sub.size = summary.size;
        sub.state = summary.state;
        if (!sub.FromJson(summary.json) || !change(sub)) {
            continue;
        }
        summary.json = sub.ToJson();
        m_subTaskDb.Save(summary);
    }
}

std::vector<std::string> CTaskEntry::ListSubTasks(std::uint32_t stateMask, std::int32_t methodMask,
                                                  std::size_t skip, std::int64_t max) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint64_t limit = max < 0 ? m_info.sub_task_count : static_cast<std::uint64_t>(max);
    std::vector<std::string> paths;
    std::size_t position = 0;
    // Walks one collection; false once the limit is reached.
    const auto walk = [&](const SubTaskMap& collection, bool testState) {
        for (const auto& [path, summary] : collection) {
            if (paths.size() >= limit) {
                return false;
            }
            if (position++ < skip) {
                continue;
            }
            if ((summary.transmethod & methodMask) == 0) {
                continue;
            }
            if (testState && (summary.state & stateMask) == 0) {
                continue;
            }
            paths.push_back(path);
        }
        return paths.size() < limit;
    };
    if ((stateMask & kStateCompleted) != 0 && !walk(m_completed, false)) {
        return paths;
    }
    if (!walk(m_active, true)) {
        return paths;
    }
    if ((stateMask & kStateWaiting) != 0) {
        walk(m_waiting, false);
    }
    return paths;
}

void CTaskEntry::AddSubTask(const std::string& path, std::uint64_t size, bool isFolder,
                            const std::string& fingerMark) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_waiting.contains(path) || m_active.contains(path) || m_completed.contains(path)) {
        return;
    }
    m_relativeParts.reset();
    SubTaskSummary summary;
    summary.path = path;
    summary.state = kStateWaiting;
    summary.size = size;
    summary.is_folder = isFolder;
    summary.finger_mark = fingerMark;
    summary.transmethod = 1;
    summary.rsyncstate = 1;
    summary.add_time = EngineNow();
    m_waiting.emplace(path, std::move(summary));
    m_info.sub_task_count += 1;
    m_info.size += size;
}

RelativePartTaken CTaskEntry::SiblingTaken() const {
    return [this](const std::string& relative) {
        // Built on first use only: few names ever need it.
        if (!m_relativeParts) {
            m_relativeParts.emplace();
            for (const SubTaskMap* collection : {&m_waiting, &m_completed, &m_active}) {
                for (const auto& [path, summary] : *collection) {
                    if (std::optional<std::string> part = ServiceRelativePart(m_info, summary)) {
                        m_relativeParts->insert(std::move(*part));
                    }
                }
            }
        }
        return m_relativeParts->contains(relative);
    };
}

void CTaskEntry::ResetSubTasks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_relativeParts.reset();
    m_waiting.clear();
    m_completed.clear();
    m_active.clear();
    m_subTaskBytes.clear();
    m_bytesTotal = 0;
    m_info.sub_task_count = 0;
    m_info.complete_sub_task_count = 0;
    m_info.size = 0;
    m_info.complete_bytes = 0;
}

bool CTaskEntry::CommitSubTasks() {
    bool written = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        written = m_subTaskDb.SaveAll(m_waiting, m_completed, m_active);
    }
    m_commitPending.store(!written);
    return written;
}

void CTaskEntry::FlushSubTasks() {
    if (m_commitPending.load() && !CommitSubTasks()) {
        return;
    }
    m_subTaskDb.DoSave();
}

void CTaskEntry::CloseSubTaskStore() {
    m_subTaskDb.CloseConnection();
}

bool CTaskEntry::LoadSubTasks() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_relativeParts.reset();
    m_waiting.clear();
    m_completed.clear();
    m_active.clear();
    const bool loaded = m_subTaskDb.Load(m_waiting, m_completed, m_active);
    m_info.complete_sub_task_count = static_cast<std::uint32_t>(m_completed.size());
    m_subTaskBytes.clear();
    m_bytesTotal = 0;
    for (const auto& [path, summary] : m_completed) {
        m_subTaskBytes[path] = summary.size;
        m_bytesTotal += summary.size;
    }
    for (auto& [path, summary] : m_active) {
        CSubTaskInfo sub;
        sub.sub_task_path = summary.path;
        sub.size = summary.size;
        sub.state = summary.state;
        const bool readable = sub.FromJson(summary.json);
        if (readable) {
            const StoredCheck check = RevalidateStored(m_info, summary, sub, SiblingTaken());
            if (check.pathReplaced || check.bitmapReset) {
                EngineLogF(kEngineLogError,
                           "LoadSubTasks: stored %s%s%s replaced: task:%s, subTask:%s",
                           check.pathReplaced ? "local path" : "",
                           check.pathReplaced && check.bitmapReset ? " and " : "",
                           check.bitmapReset ? "part bitmap" : "", m_info.task_id.c_str(),
                           MaskSecrets(path).c_str());
                summary.json = sub.ToJson();
                m_subTaskDb.Save(summary);
            }
        }
        const std::uint64_t bytes = readable ? sub.CompleteBytes() : 0;
        m_subTaskBytes[path] = bytes;
        m_bytesTotal += bytes;
    }
    m_info.complete_bytes = m_bytesTotal;
    m_lastActivity = m_info.state == kStateWorking ? EngineNow() : 0;
    return loaded;
}

void CTaskEntry::SetSubTaskBytes(const std::string& path, std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::uint64_t& recorded = m_subTaskBytes[path];
    m_bytesTotal = m_bytesTotal - recorded + bytes;
    recorded = bytes;
    m_info.complete_bytes = m_bytesTotal;
    UpdateUsedTimeLocked();
}

void CTaskEntry::AddSentBytes(std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.send_bytes += bytes;
    UpdateUsedTimeLocked();
}

void CTaskEntry::StageIn(CTaskDB& store) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_removed) {
        store.Save(m_info);
    }
}

void CTaskEntry::MarkRemoved() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_removed = true;
}

void CTaskEntry::DeleteStore() {
    m_subTaskDb.DeleteFolder();
    m_commitPending.store(false);
}

std::uint32_t CTaskEntry::PendingState() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pendingState;
}

void CTaskEntry::SetPendingState(std::uint32_t state) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pendingState = state;
}

std::uint64_t CTaskEntry::LastActivity() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastActivity;
}

std::size_t CTaskEntry::CompletedCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_completed.size();
}

std::string CTaskEntry::ProtectedPassword() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_protectedPassword;
}
