#pragma once

#include "engine/engine_settings.h"
#include "engine/speed_meter.h"

#include <atomic>

class CTaskMgr;
class CDispatchTaskWorker;
class CTovuTransMgr;
class CSendActionRecordWorker;

// Where engine messages go: level 0 information, 1 error; the text is UTF-8.
using EngineLogHook = void (*)(int level, const char* text);

// The one record every part of the engine reads. The object pointers are filled when the engine
// starts and cleared when it shuts down; the settings outlive them.
struct EngineContext {
    SpeedMeter speedMeter;
    CEngineSettings settings;
    std::atomic<EngineLogHook> logHook{nullptr};
    std::atomic<CSendActionRecordWorker*> statisticsWorker{nullptr};
    std::atomic<CTaskMgr*> taskMgr{nullptr};
    std::atomic<CDispatchTaskWorker*> dispatcher{nullptr};
    std::atomic<CTovuTransMgr*> transMgr{nullptr};
};

EngineContext& GetEngineContext();
