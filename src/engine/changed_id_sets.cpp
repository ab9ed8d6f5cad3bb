#include "engine/changed_id_sets.h"

void CChangedIdSets::AddTask(const std::string& groupId, const std::string& taskId) {
    std::lock_guard lock(m_taskMutex);
    m_tasks[groupId].insert(taskId);
}

void CChangedIdSets::AddSubTask(const std::string& taskId, const std::string& path) {
    std::lock_guard lock(m_subTaskMutex);
    m_subTasks[taskId].insert(path);
}

namespace {

std::set<std::string> Take(std::mutex& mutex, std::map<std::string, std::set<std::string>>& map,
                           const std::string& key) {
    std::lock_guard lock(mutex);
    auto node = map.extract(key);
    return node.empty() ? std::set<std::string>() : std::move(node.mapped());
}

} // namespace

std::set<std::string> CChangedIdSets::TakeTasks(const std::string& groupId) {
    return Take(m_taskMutex, m_tasks, groupId);
}

std::set<std::string> CChangedIdSets::TakeSubTasks(const std::string& taskId) {
    return Take(m_subTaskMutex, m_subTasks, taskId);
}

bool CChangedIdSets::RemoveTask(const std::string& groupId, const std::string& taskId) {
    std::lock_guard lock(m_taskMutex);
    const auto it = m_tasks.find(groupId);
    return it != m_tasks.end() && it->second.erase(taskId) > 0;
}
