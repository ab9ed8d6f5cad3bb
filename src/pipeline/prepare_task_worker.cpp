#include "pipeline/prepare_task_worker.h"

#include "engine/ascii_text.h"
#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/changer_prepare_task.h"
#include "engine/changer_task_fields.h"
#include "engine/delivery_url.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/folder_walk_guard.h"
#include "engine/json_fields.h"
#include "engine/message_texts.h"
#include "engine/part_layout.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "log/debug_trace.h"
#include "net/download_request.h"
#include "net/service_calls.h"
#include "net/service_request.h"
#include "pipeline/pipeline_texts.h"
#include "pipeline/token_renewal.h"

#include <deque>
#include <map>
#include <mutex>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct PrepareRegistry {
    std::mutex mutex;
    std::map<std::string, CPrepareTaskWorker*> workers;
};

PrepareRegistry& Registry() {
    // Never destroyed: a worker left running at exit may still unregister.
    static auto* registry = new PrepareRegistry;
    return *registry;
}

bool IsAddress(const std::string& path) {
    return AsciiLower(std::string_view(path).substr(0, 4)) == "http";
}

std::string Language() {
    return GetEngineContext().settings.Language();
}

} // namespace

bool CPrepareTaskWorker::StartPrepare(const CTaskInfo& task) {
    if (task.task_id.empty()) {
        return true;
    }
    PrepareRegistry& registry = Registry();
    CPrepareTaskWorker* worker = nullptr;
    {
        std::lock_guard lock(registry.mutex);
        if (registry.workers.contains(task.task_id)) {
            return true;
        }
        worker = new CPrepareTaskWorker(task);
        registry.workers.emplace(task.task_id, worker);
    }
    if (worker->Start()) {
        return true;
    }
    delete worker; // never ran: its destructor unregisters it
    return false;
}

void CPrepareTaskWorker::StopPrepare(const std::string& taskId) {
    PrepareRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (const auto it = registry.workers.find(taskId); it != registry.workers.end()) {
        it->second->RequestStop();
    }
}

bool CPrepareTaskWorker::IsPreparing(const std::string& taskId) {
    PrepareRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.workers.contains(taskId);
}

CPrepareTaskWorker::CPrepareTaskWorker(const CTaskInfo& task) : m_task(task) {}

CPrepareTaskWorker::~CPrepareTaskWorker() {
    StopForDestruction();
    PrepareRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (const auto it = registry.workers.find(m_task.task_id);
        it != registry.workers.end() && it->second == this) {
        registry.workers.erase(it);
    }
}

void CPrepareTaskWorker::RequestStop() {
    m_stop.store(true);
}

void CPrepareTaskWorker::DoWork() {
    DebugTrace("%s()::%d %ld\r\n", "CPrepareTaskWorker::DoWork", 0,
               static_cast<long>(::syscall(SYS_gettid)));
    if (!m_task.is_upload) {
        if (m_task.is_folder) {
            PrepareFolder();
        } else {
            PrepareFile();
        }
    }
    PrepareRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    registry.workers.erase(m_task.task_id);
}

void CPrepareTaskWorker::OnDoWorkFailed() {
    m_pending.clear();
    Fail(platform_error::kGeneralFailure, std::string());
}

void CPrepareTaskWorker::FailEndless() {
    Fail(engine_code::kEndlessListing, std::string());
}

void CPrepareTaskWorker::Fail(int code, std::string message) {
    // A pause or stop during a call is not the call's failure.
    if (Stopped()) {
        return;
    }
    if (message.empty()) {
        message = code == service_code::kUnusableReply ? UnusableReplyText() : GetErrorText(code);
    }
    QueueNew<CChangerTaskError>(m_task.task_id, code, std::move(message));
}

void CPrepareTaskWorker::FailWalk(int code, std::string message) {
    if (code == service_code::kNotFound ||
        (code == platform_error::kUnrecognizedScheme && message.empty())) {
        message = NoDownloadPermissionText();
    }
    Fail(code, std::move(message));
}

bool CPrepareTaskWorker::CheckRemainingCount() {
    ServiceReply reply;
    int result = GetJson(m_task.box_file.remaincounturl, reply);
    if (result != 0) {
        Fail(result, reply.errorMessage);
        return false;
    }
    rapidjson::Document document;
    // An answer without the count would leave the task preparing for ever.
    result = ParseReplyBody(reply, document);
    if (result != 0 || !document.IsObject() || !json_fields::Has(document, "remain_download")) {
        Fail(service_code::kUnusableReply, std::string());
        return false;
    }
    if (json_fields::ReadInt64(document, "remain_download") == 0) {
        Fail(engine_code::kDownloadLimitReached, std::string());
        return false;
    }
    return true;
}

std::string CPrepareTaskWorker::WithRenewedToken(const std::string& url) const {
    return m_renewedToken ? WithAddressToken(url, *m_renewedToken) : url;
}

int CPrepareTaskWorker::FetchLinkPageOnce(const std::string& url, std::int64_t offset,
                                          DeliveryListing& page) {
    const int result = GetJsonPage(WithRenewedToken(url), offset, page, &m_stop);
    return result != 0 ? result : ResolveDeliveryListing(page, &m_stop);
}

int CPrepareTaskWorker::FetchLinkPage(const std::string& url, std::int64_t offset,
                                      DeliveryListing& page) {
    const int result = FetchLinkPageOnce(url, offset, page);
    if (result != service_code::kSessionInvalid || !CanRenewToken(url)) {
        return result;
    }
    TokenRenewal renewal = RenewTaskToken(m_task.task_id, WithRenewedToken(url), m_stop);
    if (renewal.code != 0) {
        page.errorMessage = std::move(renewal.message);
        return renewal.code;
    }
    m_renewedToken = std::move(renewal.token);
    page = DeliveryListing();
    return FetchLinkPageOnce(url, offset, page);
}

void CPrepareTaskWorker::PrepareFile() {
    const BoxFileInfo& box = m_task.box_file;
    if (!box.remaincounturl.empty()) {
        if (!CheckRemainingCount() || Stopped()) {
            return;
        }
        DeliveryListing listing;
        if (const int result = FetchLinkPage(box.metaurl, 0, listing); result != 0) {
            Fail(result, listing.errorMessage);
            return;
        }
        const DeliveryMetadata& item = listing.item;
        if (item.downloadUrl.empty()) {
            // Without an address nothing could be fetched, and a task without files would
            // complete as if it had been downloaded.
            Fail(service_code::kUnusableReply, std::string());
            return;
        }
        BoxFileInfo learned = box;
        learned.size = static_cast<std::uint64_t>(std::max<std::int64_t>(item.size, 0));
        learned.neid = item.neid;
        learned.rev = item.rev;
        learned.path = item.downloadUrl;
        QueueNew<CChangerTaskBoxFile>(m_task.task_id, learned);
        AddSubTaskEntry(true, item.downloadUrl, item.size, item.isFolder, item.rev);
        return;
    }
    if (!box.rev.empty()) {
        RevisionListing revisions;
        if (const int result = ListRevisions(box, kRevisionLimit, revisions); result != 0) {
            Fail(result, revisions.errorMessage);
            return;
        }
        for (const RevisionItem& revision : revisions.revisions) {
            if (revision.rev == box.rev) {
                AddSubTaskEntry(true, box.path, revision.size, revision.isFolder, revision.rev);
                return;
            }
        }
        EngineLogF(kEngineLogError,
                   "CPrepareTaskWorker get rev error: task:%s, file: %s, rev: %s, response: %s",
                   m_task.task_id.c_str(), m_task.local_file.path.c_str(), box.rev.c_str(),
                   MaskSecrets(revisions.body).c_str());
        Fail(service_code::kNotFound,
             EngineTextsInEnglish(Language())
                 ? "Cann't find the information of the special version file"
                 : "未找到指定版本的文件信息");
        return;
    }
    if (!IsAddress(box.path)) {
        BoxListing listing;
        if (const int result = ListFolderAll(box, 0, 0, true, listing, &m_stop); result != 0) {
            Fail(result, listing.errorMessage);
            return;
        }
        AddSubTaskEntry(true, box.path, listing.item.size, listing.item.isFolder, listing.item.rev);
        return;
    }
    if (!box.metaurl.empty()) {
        DeliveryListing listing;
        if (const int result = FetchLinkPage(box.metaurl, 0, listing); result != 0) {
            Fail(result, listing.errorMessage);
            return;
        }
        AddSubTaskEntry(true, box.path, listing.item.size, false, std::string());
        return;
    }
    std::int64_t size = ProbeRemoteSize(box.path);
    if (size < 0) {
        // No entry: a sub-task of unknown size would be fetched as an absurdly large file.
        Fail(engine_code::kNoFileSize, std::string());
        return;
    }
    if (static_cast<std::uint64_t>(size) > kMaxItemSize) {
        size = static_cast<std::int64_t>(kRefusedItemSize);
    }
    AddSubTaskEntry(true, box.path, size, false, std::string());
}

void CPrepareTaskWorker::PrepareFolder() {
    const bool walked = IsAddress(m_task.box_file.path) ? WalkLinkFolder() : WalkStorageFolder();
    if (walked && !Stopped()) {
        AddSubTaskEntry(true, std::string(), 0, false, std::string());
    }
}

bool CPrepareTaskWorker::WalkLinkFolder() {
    const std::string& taskUrl = m_task.box_file.metaurl;
    const std::size_t query = taskUrl.find('?');
    const std::string tokenQuery =
        query == std::string::npos ? std::string() : taskUrl.substr(query);
    CFolderWalkGuard guard;
    std::deque<std::pair<std::string, int>> folders{{taskUrl, 0}};
    while (!folders.empty()) {
        const auto [url, depth] = std::move(folders.front());
        folders.pop_front();
        if (!guard.EnterFolder(url, depth)) {
            FailEndless();
            return false;
        }
        CFolderPages pages;
        std::int64_t offset = 0;
        for (bool first = true;; first = false) {
            if (Stopped()) {
                return false;
            }
            DeliveryListing page;
            if (const int result = FetchLinkPage(url, offset, page); result != 0) {
                FailWalk(result, page.errorMessage);
                return false;
            }
            if (!pages.Accept(page.children.empty() ? std::string() : page.children.front().path) ||
                !guard.AddItems(page.children.size())) {
                FailEndless();
                return false;
            }
            if (first) {
                AddSubTaskEntry(false, page.item.downloadUrl, page.item.size, true, page.item.rev);
            }
            for (const DeliveryMetadata& child : page.children) {
                if (child.isFolder) {
                    folders.emplace_back(child.metadataUrl + tokenQuery, depth + 1);
                } else if (child.downloadUrl.empty()) {
                    // Left out, the task would complete without it.
                    Fail(service_code::kUnusableReply, std::string());
                    return false;
                } else {
                    AddSubTaskEntry(false, child.downloadUrl, child.size, false, child.rev);
                }
            }
            offset += static_cast<std::int64_t>(page.children.size());
            DebugTrace("==========Meta Count: %d\n", static_cast<int>(offset));
            if (page.children.size() < kLinkPageSize) {
                break;
            }
        }
    }
    return true;
}

bool CPrepareTaskWorker::WalkStorageFolder() {
    CFolderWalkGuard guard;
    std::deque<std::pair<std::string, int>> folders{{m_task.box_file.path, 0}};
    while (!folders.empty()) {
        if (Stopped()) {
            return false;
        }
        BoxFileInfo box = m_task.box_file;
        auto [path, depth] = std::move(folders.front());
        box.path = std::move(path);
        folders.pop_front();
        if (!guard.EnterFolder(box.path, depth)) {
            FailEndless();
            return false;
        }
        BoxListing listing;
        if (const int result = ListFolderAll(box, 0, 0, true, listing, &m_stop); result != 0) {
            FailWalk(result, listing.errorMessage);
            return false;
        }
        if (!guard.AddItems(listing.children.size())) {
            FailEndless();
            return false;
        }
        AddSubTaskEntry(false, listing.item.path, listing.item.size, listing.item.isFolder,
                        listing.item.rev);
        for (const BoxMetadata& child : listing.children) {
            if (child.isFolder) {
                folders.emplace_back(child.path, depth + 1);
            } else {
                AddSubTaskEntry(false, child.path, child.size, child.isFolder, child.rev);
            }
        }
    }
    return true;
}

void CPrepareTaskWorker::AddSubTaskEntry(bool last, const std::string& path, std::int64_t size,
                                         bool isFolder, const std::string& revision) {
    if (!path.empty()) {
        SubTaskSummary entry;
        entry.path = path;
        entry.state = kStateWaiting;
        entry.size = static_cast<std::uint64_t>(std::max<std::int64_t>(size, 0));
        entry.is_folder = isFolder;
        entry.finger_mark = revision;
        m_pending.push_back(std::move(entry));
    }
    if (Stopped() || (m_pending.size() < kEntriesPerChange && !last)) {
        return;
    }
    QueueNew<CChangerPrepareTask>(m_task.task_id, std::move(m_pending), last);
    m_pending.clear();
}
