#pragma once

class CSyncMyLog;

// Runs the life of the process: log, language, icon list, engine and task tracker, the main
// window, then the shutdown in order: detail windows, tracker, engine (its stores flushed),
// icon list, and the log drained last.
class CParvexApp {
public:
    int Run();

    CSyncMyLog* GetLog() const { return m_log; }

private:
    CSyncMyLog* m_log = nullptr;
};

CParvexApp& TheApp();
