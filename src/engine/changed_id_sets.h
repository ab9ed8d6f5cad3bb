#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

// Separates (and ends) every id of an id list.
inline constexpr char kIdListSeparator[] = "201906122104";

// Each id followed by the separator, the last one included.
template <typename Ids>
std::string JoinIdList(const Ids& ids) {
    std::string list;
    for (const std::string& id : ids) {
        list += id;
        list += kIdListSeparator;
    }
    return list;
}

// The tasks and sub-tasks that changed since the front end last asked, per group and per task.
// The two sets have their own locks and are never locked together.
class CChangedIdSets {
public:
    void AddTask(const std::string& groupId, const std::string& taskId);
    void AddSubTask(const std::string& taskId, const std::string& path);
    // Takes the group's (task's) set out; empty when nothing changed.
    std::set<std::string> TakeTasks(const std::string& groupId);
    std::set<std::string> TakeSubTasks(const std::string& taskId);
    // True when the group's set held the id, which is then removed.
    bool RemoveTask(const std::string& groupId, const std::string& taskId);

private:
    std::mutex m_taskMutex;
    std::mutex m_subTaskMutex;
    std::map<std::string, std::set<std::string>> m_tasks;
    std::map<std::string, std::set<std::string>> m_subTasks;
};
