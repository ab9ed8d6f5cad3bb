#pragma once

#include "engine/changed_id_sets.h"
#include "engine/task_info.h"
#include "engine/task_mgr_events.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CTaskMgr;
class CDispatchTaskWorker;

// The one door into the transfer engine. Texts cross it as zero-terminated UTF-8; a text it
// returns is the caller's to give back with FreeString. Task changes are only queued and take
// effect within one dispatcher pass; reads copy records.
class CTovuTransMgr : public ITaskMgrEvents {
public:
    CTovuTransMgr() = default;
    ~CTovuTransMgr() override;
    CTovuTransMgr(const CTovuTransMgr&) = delete;
    CTovuTransMgr& operator=(const CTovuTransMgr&) = delete;

    // Link intake (service calls).
    virtual char* ResolveLinkAddress(const char* linkAddress, int* errorCode, char** errorMessage);
    virtual int AuthenticateLink(const char* serviceAddress, const char* deliveryCode,
                                 const char* password, char** token, char** errorMessage);
    virtual bool IsLinkLoginVerified(const char* serviceAddress, const char* deliveryCode);
    // `stop`, when given, ends the request in flight once it is set.
    virtual char* GetDeliveryMetadata(const char* serviceAddress, const char* linkPath,
                                      const char* accessToken, int* errorCode, char** errorMessage,
                                      std::int64_t offset, const std::atomic<bool>* stop = nullptr);
    virtual char* GetJsonPage(const char* url, int* errorCode, char** errorMessage,
                              std::int64_t offset, const std::atomic<bool>* stop = nullptr);
    virtual char* GetDownloadUrl(const char* url, int* errorCode, char** errorMessage);
    virtual char* GetContentLength(const char* url, std::int64_t* size, int* errorCode,
                                   char** errorMessage);

    // Engine.
    virtual void SetOption(int type, const char* value);
    // 0, or the code of the reason the engine cannot run (its data folder is in use).
    virtual int StartEngine();
    virtual void SetLogHook(void (*hook)(int level, const char* text));

    // New tasks; each returns the task id as text, or none (also for a box file text that is
    // not a JSON object). NewTaskAsync returns 0 when it queued the task, 1 for such a text.
    virtual char* NewTask(const char* groupId, const char* boxFileJson, const char* localPath,
                          bool isUpload, int priority, const char* password);
    virtual char* NewUrlDownloadTask(const char* groupId, const char* downloadUrl,
                                     const char* localPath, int priority);
    // A link item's download; `password` (may be null) opened the link and is kept with the
    // task, so the link can be opened again when its access token expires. An unfinished task
    // of the same item in the same folder and group takes the new token and password instead,
    // starts again unless it runs, and its id is returned.
    virtual char* NewDeliveryDownloadTask(const char* groupId, const char* downloadUrl,
                                          const char* localPath, bool isFolder,
                                          const char* metadataUrl, int priority,
                                          const char* remainCountUrl,
                                          const char* password = nullptr);
    virtual int NewTaskAsync(const char* groupId, const char* boxFileJson, const char* localPath,
                             bool isUpload, int priority, const char* password);

    // Following the engine.
    virtual char* GetChangedTaskIdList(const char* groupId);
    virtual char* GetChangedSubTaskIdList(const char* taskId);
    virtual char* GetTaskInfo(const char* taskId);

    virtual void PauseTask(const char* taskId);
    virtual void StopTask(const char* taskId);
    virtual void StartTask(const char* taskId);
    virtual void DeleteTask(const char* taskId);

    virtual char* GetTaskIdList(const char* groupId, std::uint32_t stateMask);
    virtual int GetTaskCount(const char* groupId, std::uint32_t stateMask);
    virtual char* GetSubTaskIdList(const char* taskId, int skip, int max);
    virtual char* GetSubTaskInfo(const char* taskId, const char* subTaskPath);

    virtual void StopGroup(const char* groupId);
    virtual void PauseGroup(const char* groupId);
    virtual void StartGroup(const char* groupId);
    virtual void DeleteGroup(const char* groupId);

    virtual void FreeString(char* text);
    virtual void ShutdownEngine();
    virtual void LoadTaskFromDb(const char* groupId);
    virtual void LoadAllTaskFromDb();
    virtual bool IsLoaded();

    // The engine's own notifications.
    void AddChangedTaskId(const std::string& groupId, const std::string& taskId) override;
    void AddChangedSubTaskId(const std::string& taskId, const std::string& path) override;
    void QueueDeleteTaskDb(const std::string& taskId) override;
    void DelChangedTaskIdFromSet(const std::string& groupId, const std::string& taskId);

private:
    void QueueTaskState(const char* taskId, std::uint32_t state, const char* logPrefix);
    template <typename Operation>
    void ForGroup(const char* groupId, const char* logPrefix, Operation operation);
    char* AddNewTask(const CTaskInfo& task, const char* logPrefix);

    CChangedIdSets m_changed;
};

// The one transfer manager, created on first use.
CTovuTransMgr* GetTransMgr();
