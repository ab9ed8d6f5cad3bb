#include "pipeline/download_part_worker.h"

#include "engine/action_record.h"
#include "engine/change_queue.h"
#include "engine/changer_errors.h"
#include "engine/changer_sub_task_progress.h"
#include "engine/changer_sub_task_restart.h"
#include "engine/delivery_url.h"
#include "engine/dispatch_task_worker.h"
#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/engine_log.h"
#include "engine/engine_task.h"
#include "engine/message_texts.h"
#include "engine/part_bitmap.h"
#include "engine/platform_error.h"
#include "engine/secret_mask.h"
#include "engine/send_action_record_worker.h"
#include "engine/task_entry.h"
#include "engine/worker_registry.h"
#include "log/debug_trace.h"
#include "log/format_text.h"
#include "net/download_request.h"
#include "net/http_options.h"
#include "net/service_request.h"
#include "pipeline/pipeline_texts.h"
#include "pipeline/task_file.h"
#include "pipeline/token_renewal.h"
#include "pipeline/tovu_file.h"

#include <algorithm>
#include <vector>

namespace {

constexpr const char* kDownloadErrorText = "Download Error, 可能是密码错误或者超过下载次数";

CWorkerRegistry<CDownloadPartWorker>& Registry() {
    // Never destroyed: workers left running at exit may still leave it.
    static auto* registry = new CWorkerRegistry<CDownloadPartWorker>;
    return *registry;
}

std::atomic<int> g_workerNumbers{0};

std::string Language() {
    return GetEngineContext().settings.Language();
}

// A failure without an answer body: the platform's code and its text.
void ClassifyPlatformFailure(int code, int status, std::string& message) {
    message = GetErrorText(code);
    if (message.empty()) {
        message =
            EngineTextsInEnglish(Language())
                ? FormatText("Con not connect server errorcode[%d] connecterror[%d]", status, code)
                : FormatText("无法与服务器建立链接[%d] 错误码[%d]", status, code);
    }
}

// The code and message of a refused request or a broken stream, from its status and answer.
// errorState/errorCode: the error object's members for the statistics report.
int ClassifyFailure(const DownloadRequest& request, std::string& message, int& errorState,
                    std::string& errorCode) {
    if (request.replyText.empty()) {
        ClassifyPlatformFailure(request.result, request.status, message);
        return request.result;
    }
    ServiceReply reply;
    reply.status = request.status;
    reply.body = request.replyText;
    rapidjson::Document document;
    int code = service_code::kOtherError;
    if (ParseReply(reply.body, document) && document.IsObject()) {
        ReadErrorObject(document, "message", reply);
        if (reply.errorType == "error") {
            code = MapServerError(reply.errorCode);
            errorState = reply.errorState;
            errorCode = reply.errorCode;
        }
    }
    message = reply.errorMessage;
    if (message.empty() && request.status > 500) {
        message = EngineTextsInEnglish(Language())
                      ? FormatText("Con not connect server[%d]", request.status)
                      : FormatText("无法与服务器建立链接[%d]", request.status);
    }
    return code;
}

BoxFileInfo WithToken(BoxFileInfo box, const std::string* token) {
    if (token != nullptr) {
        box.metaurl = WithAddressToken(box.metaurl, *token);
    }
    return box;
}

void WakeDispatcher() {
    if (CDispatchTaskWorker* dispatcher = GetEngineContext().dispatcher.load()) {
        dispatcher->Wake();
    }
}

} // namespace

CDownloadPartWorker::CDownloadPartWorker(const RangeRequest& range)
    : m_taskId(range.taskId), m_subTaskPath(range.subTaskPath), m_boxFile(range.boxFile),
      m_partSize(range.partSize), m_start(range.start), m_end(range.end), m_current(range.start),
      m_number(++g_workerNumbers), m_validator(range.validator) {
    Register();
}

CDownloadPartWorker::CDownloadPartWorker(const CDownloadPartWorker& other, std::uint64_t start,
                                         std::uint64_t end, int retriesLeft,
                                         const std::string* token)
    : m_taskId(other.m_taskId), m_subTaskPath(other.m_subTaskPath),
      m_boxFile(WithToken(other.m_boxFile, token)), m_partSize(other.m_partSize), m_start(start),
      m_end(end), m_current(start), m_number(++g_workerNumbers), m_retriesLeft(retriesLeft),
      m_tokenRenewed(token != nullptr || other.m_tokenRenewed.load()),
      m_validator(other.Validator()) {
    Register();
}

CDownloadPartWorker::~CDownloadPartWorker() {
    StopForDestruction();
    Registry().Leave(this);
}

void CDownloadPartWorker::Register() {
    Registry().Enter(this);
}

void CDownloadPartWorker::RequestStop() {
    m_stop.store(true);
}

std::size_t CDownloadPartWorker::CountPartWorkers(const std::string& taskId) {
    return Registry().CountForTask(taskId);
}

void CDownloadPartWorker::StopPartWorkers(const std::string& taskId) {
    Registry().StopForTask(taskId);
}

std::size_t CDownloadPartWorker::CountSubTaskWorkers(const std::string& taskId,
                                                     const std::string& subTaskPath) {
    std::size_t count = 0;
    Registry().ForEach([&](const CDownloadPartWorker* worker) {
        if (worker->m_taskId == taskId && worker->m_subTaskPath == subTaskPath) {
            ++count;
        }
    });
    return count;
}

void CDownloadPartWorker::StopSubTaskWorkers(const std::string& taskId,
                                             const std::string& subTaskPath) {
    Registry().ForEach([&](CDownloadPartWorker* worker) {
        if (worker->m_taskId == taskId && worker->m_subTaskPath == subTaskPath) {
            worker->RequestStop();
        }
    });
}

std::string CDownloadPartWorker::Validator() const {
    std::lock_guard lock(m_splitMutex);
    return m_validator;
}

IRangeWorker* CDownloadPartWorker::FindLargestRange() {
    CDownloadPartWorker* largest = nullptr;
    std::uint64_t largestLeft = 0;
    Registry().ForEach([&](CDownloadPartWorker* worker) {
        if (worker->m_stop.load()) {
            return;
        }
        std::lock_guard lock(worker->m_splitMutex);
        const std::uint64_t current = worker->m_current.load();
        const std::uint64_t end = worker->m_end.load();
        if (worker->m_leaving || end <= current) {
            return;
        }
        if (largest == nullptr || end - current > largestLeft) {
            largest = worker;
            largestLeft = end - current;
        }
    });
    return largest;
}

bool CDownloadPartWorker::SplitAt(std::uint64_t split) {
    std::uint64_t oldEnd = 0;
    {
        std::lock_guard lock(m_splitMutex);
        if (m_leaving || m_stop.load() || split <= m_current.load() || split >= m_end.load()) {
            return false;
        }
        oldEnd = m_end.exchange(split);
    }
    auto* copy = new CDownloadPartWorker(*this, split, oldEnd, kRetries);
    if (copy->Start()) {
        return true;
    }
    delete copy;
    // No thread for the second half: this worker keeps it, unless it already decided to leave.
    std::lock_guard lock(m_splitMutex);
    if (!m_leaving) {
        m_end.store(oldEnd);
        return false;
    }
    QueueNew<CChangerSubTaskError>(m_taskId, m_subTaskPath, platform_error::kGeneralFailure,
                                   std::string());
    return true;
}

bool CDownloadPartWorker::LeaveIfDone(bool failed) {
    std::lock_guard lock(m_splitMutex);
    if (failed || m_stop.load() || m_current.load() >= m_end.load()) {
        m_leaving = true;
    }
    return m_leaving;
}

void CDownloadPartWorker::OnDoWorkFailed() {
    {
        std::lock_guard lock(m_splitMutex);
        m_leaving = true;
    }
    QueueNew<CChangerSubTaskError>(m_taskId, m_subTaskPath, platform_error::kGeneralFailure,
                                   GetErrorText(platform_error::kGeneralFailure));
}

void CDownloadPartWorker::DoWork() {
    {
        std::lock_guard lock(m_splitMutex);
        m_leaving = false;
    }
    DebugTrace("CDownloadPartWorker::DoWork( %d ) start\r\n", m_number);
    DebugTrace("%d start: %lld end:%lld \r\n", m_number,
               static_cast<long long>(m_start / m_partSize),
               static_cast<long long>(m_end.load() / m_partSize));
    if (m_start == 0 && m_end.load() == 0) {
        DownloadEmptyFile();
    } else {
        Failure failure;
        if (!DownloadRange(failure) && !m_stop.load()) {
            HandleFailure(std::move(failure));
        } else {
            DebugTrace("==========CDownloadPartWorker::DoWork( %d ) finished \r\n", m_number);
            DebugTrace("==============%d finished start: %lld end:%lld \r\n", m_number,
                       static_cast<long long>(m_start / m_partSize),
                       static_cast<long long>(m_end.load() / m_partSize));
        }
    }
    // The slot is free now: the dispatcher need not wait for its next pass to fill it.
    Registry().Leave(this);
    WakeDispatcher();
}

void CDownloadPartWorker::DownloadEmptyFile() {
    CTaskFile file;
    if (!file.Attach(m_taskId, m_subTaskPath)) {
        return; // the failure is handed on by the attach
    }
    auto done = std::make_unique<CChangerSubTaskProgress>(m_taskId, m_subTaskPath);
    done->state = kStateCompleted;
    QueueChange(std::move(done));
}

bool CDownloadPartWorker::DownloadRange(Failure& failure) {
    DownloadRequest request;
    request.file = m_boxFile;
    request.rangeStart = static_cast<std::int64_t>(m_start);
    request.rangeEnd = static_cast<std::int64_t>(m_end.load());
    request.abortFlag = &m_stop;
    request.ifRange = m_validator; // only this thread writes it
    const std::shared_ptr<CTaskEntry> entry = FindEngineTask(m_taskId).entry;
    const bool syncTask = entry != nullptr && IsSyncGroup(entry->GroupId());
    int errorState = 0;
    std::string errorCode;
    if (!OpenRange(request, syncTask)) {
        LeaveIfDone(true);
        if (request.result == engine_code::kFileChangedOnServer) {
            // Not a failure: the whole sub-task starts again with the new version.
            QueueNew<CChangerSubTaskRestart>(m_taskId, m_subTaskPath, request.ifRange,
                                             request.validator);
            return true;
        }
        failure.code = ClassifyFailure(request, failure.message, errorState, errorCode);
        return false;
    }
    m_tokenRenewed.store(false); // the token was accepted: a later refusal may renew it again
    AdoptReplyValidator(request);
    CTaskFile file;
    if (!file.Attach(m_taskId, m_subTaskPath)) {
        LeaveIfDone(true);
        CloseRange(request);
        if (file.Finished()) {
            return true; // nothing left to write here
        }
        // Handed on by the attach; another attempt would meet the same file.
        failure.code = file.InitError();
        failure.noRetry = true;
        failure.reported = true;
        return false;
    }
    // One buffer for every part; a small file needs no more than its own size.
    std::vector<char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(m_partSize, m_end.load() - m_start)));
    std::uint64_t received = 0;
    bool failed = false;
    while (!m_stop.load()) {
        const std::uint64_t current = m_current.load();
        const auto length =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_partSize, m_end.load() - current));
        if (buffer.size() < length) {
            buffer.resize(length);
        }
        std::size_t filled = 0;
        while (filled < length && !m_stop.load()) {
            const std::uint64_t started = EngineNow();
            const int read = ReadSome(request, buffer.data() + filled, length - filled);
            if (read <= 0) {
                if (read == 0) {
                    // The body ended early. A 206 that sent nothing at all is the service's way
                    // of refusing the file; a stream cut after some bytes is a broken connection.
                    request.result = received == 0 && request.status == 206
                                         ? service_code::kNotFound
                                         : platform_error::kConnectionAborted;
                }
                failed = true;
                break;
            }
            GetEngineContext().speedMeter.RecordSample(m_taskId, started,
                                                       static_cast<std::uint32_t>(read));
            filled += static_cast<std::size_t>(read);
            received += static_cast<std::uint64_t>(read);
        }
        if (failed) {
            failure.code = request.result;
            if (failure.code != service_code::kNotFound) {
                failure.code = ClassifyFailure(request, failure.message, errorState, errorCode);
            }
            // A stop cancels the read: that is no failed download.
            if (!m_stop.load() && failure.code != platform_error::kCancelled) {
                DebugTrace("%d dlerror: [%s] \r\n", m_number, failure.message.c_str());
                ReportFailure(kActionDownloadFailed, m_subTaskPath, errorState, errorCode);
            }
            break;
        }
        if (m_stop.load() || filled < length) {
            break;
        }
        const WrittenPart written = file.WriteAt(buffer.data(), length, current);
        if (written.fileFinished) {
            break; // the file was completed by others: this worker is done
        }
        if (written.bytes != static_cast<std::int64_t>(length)) {
            DebugTrace("%d write error! \r\n", m_number);
            const int err = LastFileError();
            failure.code = MapErrno(err);
            failure.message = ErrnoText(err, PlatformTextsInEnglish(Language()));
            if (failure.message.empty()) {
                failure.message = WriteFailedText();
            }
            failed = true;
            break;
        }
        m_unreported.push_back(
            {static_cast<std::size_t>((current + length - 1) / m_partSize), written.sequence});
        m_current.store(current + length);
        if (!ReportWritten(file, false, failure)) {
            failed = true;
            break;
        }
        if (LeaveIfDone(false)) {
            break;
        }
    }
    LeaveIfDone(true);
    CloseRange(request);
    // Whatever ended the loop, the parts written so far are kept.
    if (!ReportWritten(file, true, failure)) {
        failed = true;
    }
    return !failed;
}

void CDownloadPartWorker::AdoptReplyValidator(const DownloadRequest& request) {
    if (!request.ifRange.empty() || request.validator.empty()) {
        return;
    }
    auto learned = std::make_unique<CChangerSubTaskProgress>(m_taskId, m_subTaskPath);
    learned->validator = request.validator;
    learned->validatorLearned = true;
    QueueChange(std::move(learned));
    std::lock_guard lock(m_splitMutex);
    m_validator = request.validator;
}

bool CDownloadPartWorker::ReportWritten(CTaskFile& file, bool force, Failure& failure) {
    if (m_unreported.empty()) {
        return true;
    }
    const std::uint64_t newest = m_unreported.back().sequence;
    if ((force && !file.IsSynced(newest)) || file.SyncFailedFor(m_unreported.front().sequence)) {
        if (!file.SyncThrough(newest)) {
            const int err = LastFileError();
            failure.code = MapErrno(err);
            failure.message = ErrnoText(err, PlatformTextsInEnglish(Language()));
            // Parts not known to be on the disk are fetched again by the retry copy.
            m_current.store(
                std::min<std::uint64_t>(m_current.load(), m_unreported.front().bit * m_partSize));
            m_unreported.clear();
            return false;
        }
    }
    // Sequences grow along the list, so the synced parts are a prefix of it.
    const auto unsynced =
        std::find_if(m_unreported.begin(), m_unreported.end(),
                     [&file](const UnreportedPart& part) { return !file.IsSynced(part.sequence); });
    PartBitmap synced;
    for (auto it = m_unreported.begin(); it != unsynced; ++it) {
        synced.Set(it->bit);
    }
    m_unreported.erase(m_unreported.begin(), unsynced);
    if (!m_unreported.empty() && file.SyncDue()) {
        file.RequestSync();
    }
    if (!synced.Any()) {
        return true;
    }
    auto progress = std::make_unique<CChangerSubTaskProgress>(m_taskId, m_subTaskPath);
    progress->doneParts = std::move(synced);
    progress->state = kStateWorking;
    progress->validator = m_validator;
    QueueChange(std::move(progress));
    return true;
}

void CDownloadPartWorker::HandleFailure(Failure failure) {
    if (failure.code == platform_error::kCancelled) {
        return; // the engine shuts down
    }
    DebugTrace("===========CDownloadPartWorker::DoWork( %d ) error\r\n", m_number);
    EngineLogF(kEngineLogError,
               "CDownloadPartWorker error, task:%s, subTask:%s, start:%lld end:%lld cur:%lld, "
               "retryLeft:%d",
               m_taskId.c_str(), MaskSecrets(m_subTaskPath).c_str(),
               static_cast<long long>(m_start / m_partSize),
               static_cast<long long>(m_end.load() / m_partSize),
               static_cast<long long>(m_current.load() / m_partSize), m_retriesLeft);
    if (failure.reported) {
        return;
    }
    if (failure.code == service_code::kSessionInvalid && !m_tokenRenewed.load() &&
        CanRenewToken(m_boxFile.metaurl)) {
        if (RenewToken(failure) || m_stop.load() || failure.code == platform_error::kCancelled) {
            return;
        }
        failure.noRetry = true;
    }
    if (failure.code == service_code::kNotFound) {
        failure.message = NoDownloadPermissionText();
        failure.noRetry = true;
    } else {
        if (failure.message.empty()) {
            failure.message = kDownloadErrorText;
        }
        if (failure.code == service_code::kOtherError ||
            failure.code == service_code::kSessionInvalid ||
            failure.code == service_code::kForbidden) {
            failure.noRetry = true;
        }
    }
    if (!failure.noRetry && m_retriesLeft >= 1) {
        StartRetryCopy(failure.code);
        return;
    }
    QueueNew<CChangerSubTaskError>(m_taskId, m_subTaskPath, failure.code,
                                   std::move(failure.message));
}

bool CDownloadPartWorker::RenewToken(Failure& failure) {
    TokenRenewal renewal = RenewTaskToken(m_taskId, m_boxFile.metaurl, m_stop);
    if (renewal.code != 0) {
        failure.code = renewal.code;
        failure.message = std::move(renewal.message);
        return false;
    }
    StartRetryCopy(service_code::kSessionInvalid, &renewal.token);
    return true;
}

void CDownloadPartWorker::StartRetryCopy(int code, const std::string* token) {
    if (m_current.load() >= m_end.load()) {
        return; // nothing left to fetch
    }
    // Registered before this worker's stop flag is looked at again: a stop of the task either
    // reached this worker already or reaches the copy. A renewed token is no retry of the range.
    auto* copy =
        new CDownloadPartWorker(*this, m_current.load(), m_end.load(),
                                token != nullptr ? m_retriesLeft : m_retriesLeft - 1, token);
    if (m_stop.load() || IsHttpShutdown()) {
        delete copy;
        return;
    }
    if (!copy->Start()) {
        delete copy;
        QueueNew<CChangerSubTaskError>(m_taskId, m_subTaskPath, code, GetErrorText(code));
    }
}
