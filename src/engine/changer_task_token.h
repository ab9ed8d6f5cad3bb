#pragma once

#include "engine/task_changer.h"

#include <string>

// A link task's access token renewed after the service refused the old one: the new token
// replaces it in the task's address and in the addresses its sub-tasks keep, and is stored with
// them. Nothing changes unless the task still has the refused token, so a token set meanwhile
// (the link was added again) stays.
class CChangerTaskToken final : public CTaskInfoChangerBase {
public:
    CChangerTaskToken(std::string taskId, std::string staleToken, std::string token)
        : m_taskId(std::move(taskId)), m_staleToken(std::move(staleToken)),
          m_token(std::move(token)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::string m_staleToken;
    std::string m_token;
};

// A link added again while its task is unfinished: the task takes the new access token and the
// password that opened the link, and starts again unless it is running or preparing.
class CChangerRenewLinkTask final : public CTaskInfoChangerBase {
public:
    CChangerRenewLinkTask(std::string taskId, std::string token, std::string password)
        : m_taskId(std::move(taskId)), m_token(std::move(token)), m_password(std::move(password)) {}
    void DoChange() override;

private:
    std::string m_taskId;
    std::string m_token;
    std::string m_password;
};
