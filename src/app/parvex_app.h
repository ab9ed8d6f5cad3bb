#pragma once

class CSyncMyLog;

// Runs the life of the process: log, language, (engine, tracker and windows as they are
// built), then an orderly shutdown that keeps every queued log line.
class CParvexApp {
public:
    int Run();

    CSyncMyLog* GetLog() const { return m_log; }

private:
    CSyncMyLog* m_log = nullptr;
};

CParvexApp& TheApp();
