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

inline void PrintTo(const SubTaskSummary& s, std::ostream* os) {
    *os << "{path=" << s.path << " state=" << s.state << " size=" << s.size << " json=" << s.json
        << " folder=" << s.is_folder << " finger=" << s.finger_mark << " method=" << s.transmethod
        << " rsync=" << s.rsyncstate << " added=" << s.add_time << "}";
}
