#pragma once

#include "cli/cli_options.h"
#include "cli/progress_view.h"
#include "tracking/parvex_task_mgr.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class CEngineBridge;

// Exit statuses of parvex-cli.
enum CliExit {
    kExitDone = 0,
    kExitFailed = 1, // a task failed, or the engine could not run
    kExitUsage = 2,  // bad arguments, selection or save folder
    kExitLink = 3,   // the link could not be opened
    kExitInterrupted = 130,
};

// Receives the task tracker's events on the main thread.
class CTaskReceiver : public QObject {
public:
    explicit CTaskReceiver(CProgressView* view) : m_view(view) {}

    bool Loaded() const { return m_loaded; }
    void SetView(CProgressView* view) { m_view = view; }

protected:
    bool event(QEvent* event) override;

private:
    CProgressView* m_view;
    bool m_loaded = false;
};

// One run of parvex-cli: data folder, log, language and TLS settings first; the engine and the
// task tracker when the command needs them; an orderly shutdown that keeps every stored
// change when the session ends.
class CCliSession {
public:
    explicit CCliSession(const CliOptions& options);
    ~CCliSession();
    CCliSession(const CCliSession&) = delete;
    CCliSession& operator=(const CCliSession&) = delete;

    CEngineBridge& Bridge() { return *m_bridge; }

    // Starts the engine on the data folder; false (reported) when it cannot run.
    bool StartEngine();
    // Waits until the engine has loaded its stored tasks; false when interrupted.
    bool WaitForEngineLoad();
    // Starts the task tracker and waits for its snapshot; false when interrupted.
    bool StartTracker();
    CParvexTaskMgr& Tracker() { return *m_tracker; }

    // Follows `taskIds` in `view`. A task resting in an end state (failed or paused, or an
    // unfinished task the engine handed back for a new one of the same file) is started again,
    // all of them when `startAll` (never a completed one), and given a moment to leave that
    // state; the tracker's events queued meanwhile are dropped and the view starts from fresh
    // records.
    void BeginFollow(CProgressView& view, const QStringList& taskIds, bool startAll);
    // Shows the followed tasks until every one has ended; the exit status (failures named).
    int Follow(CProgressView& view);

    static void Say(const QString& text);
    static void Complain(const QString& text);
    static bool Interrupted();
    // Set by Ctrl-C and SIGTERM: a request in flight watches it.
    static const std::atomic<bool>* InterruptFlag();

private:
    CEngineBridge* m_bridge = nullptr;
    std::unique_ptr<CTaskReceiver> m_receiver;
    std::unique_ptr<CParvexTaskMgr> m_tracker;
};
