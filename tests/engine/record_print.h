#pragma once

#include "engine/task_info.h"

#include <ostream>

// Readable failure output for record comparisons: the JSON text plus what it leaves out.
inline void PrintTo(const CTaskInfo& task, std::ostream* os) {
    *os << task.ToJson() << " completed=" << task.complete_bytes << " pass=" << task.pass
        << " retry=" << task.retry_time << " box.size=" << task.box_file.size;
}

inline void PrintTo(const CSubTaskInfo& sub, std::ostream* os) {
    *os << sub.ToJson() << " id=" << sub.task_id << " key=" << sub.sub_task_path;
}
