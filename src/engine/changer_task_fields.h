#pragma once

#include "engine/box_file_info.h"
#include "engine/task_changer.h"

#include <cstdint>
#include <string>

// Each sets one field of a task and of its Working and Error sub-tasks.

class CChangerSecTransFlag final : public CTaskInfoChangerBase {
public:
    CChangerSecTransFlag(std::string taskId, bool flag)
        : m_taskId(std::move(taskId)), m_flag(flag) {}
    void DoChange() override;

private:
    std::string m_taskId;
    bool m_flag;
};

class CChangerDataServerHost final : public CTaskInfoChangerBase {
public:
    CChangerDataServerHost(std::string taskId, std::string dataServer)
        : m_taskId(std::move(taskId)), m_dataServer(std::move(dataServer)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::string m_dataServer;
};

// A method other than 4 (incremental synchronisation) also resets the synchronisation state
// and returns the sub-tasks concerned to Waiting.
class CChangerTaskTransMethod final : public CTaskInfoChangerBase {
public:
    CChangerTaskTransMethod(std::string taskId, std::int32_t transmethod)
        : m_taskId(std::move(taskId)), m_transmethod(transmethod) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::int32_t m_transmethod;
};

// What the preparation learned about the task's item (size, node id, revision, resolved
// address). Applied here rather than by the preparation writing back its whole, older record;
// the task's own address (and the access token in it) is kept.
class CChangerTaskBoxFile final : public CTaskInfoChangerBase {
public:
    CChangerTaskBoxFile(std::string taskId, BoxFileInfo boxFile)
        : m_taskId(std::move(taskId)), m_boxFile(std::move(boxFile)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    BoxFileInfo m_boxFile;
};
