#pragma once

#include <functional>

// One thread of the process that syncs files to the disk, so a part worker never stops reading
// its connection while its data goes to the disk. Jobs run one at a time in the order posted;
// the thread starts with the first job and lives as long as the process (a job holds what it
// needs, so one left queued at exit costs nothing).
namespace file_sync_thread {

void Post(std::function<void()> job);

} // namespace file_sync_thread
