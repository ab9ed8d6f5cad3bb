#include "cli/cli_session.h"

#include "app/app_log.h"
#include "app/data_folders.h"
#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "app/language.h"
#include "cli/terminal.h"
#include "log/sync_my_log.h"
#include "tracking/front_events.h"
#include "views/task_texts.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The tracker reads the engine this often, so the progress lines change twice a second.
constexpr std::chrono::milliseconds kTrackerPoll{500};
// The display is redrawn this often on a terminal.
constexpr std::chrono::milliseconds kRedraw{250};
constexpr auto kLoadDeadline = std::chrono::minutes(5);
// How long a restarted task is given to leave its failed or paused state.
constexpr auto kRestartSettle = std::chrono::seconds(3);

std::atomic<bool> g_interrupted{false};

// The first Ctrl-C ends the session in order; a second one ends the process at once.
void OnSignal(int signal) {
    g_interrupted.store(true);
    std::signal(signal, SIG_DFL);
}

// Without SA_RESTART, so a read waiting for the password returns on Ctrl-C.
void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Runs the event loop until `done` holds, checking every `interval`; false when interrupted.
template <typename Done, typename Tick>
bool RunUntil(Done done, Tick tick, std::chrono::milliseconds interval) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer timer;
    bool interrupted = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        tick();
        if (g_interrupted.load()) {
            interrupted = true;
            loop.quit();
        } else if (done()) {
            loop.quit();
        }
    });
    timer.start(interval);
    loop.exec();
    return !interrupted;
}

} // namespace

bool CTaskReceiver::event(QEvent* event) {
    if (event->type() == FrontEventType(kMsgTaskLoaded)) {
        m_loaded = true;
        return true;
    }
    if (event->type() == FrontEventType(kMsgTaskChanged)) {
        auto* changed = static_cast<CTaskChangedEvent*>(event);
        if (m_view != nullptr) {
            m_view->Update(changed->Key(), changed->Record());
        }
        return true;
    }
    return QObject::event(event);
}

CCliSession::CCliSession(const CliOptions& options) {
    InstallSignalHandlers();
    if (!options.dataDir.isEmpty()) {
        SetAppDataFolderOverride(options.dataDir.toStdString());
    }
    // The engine's HTTP client reads its TLS settings from the environment on first use.
    if (!options.caFile.isEmpty()) {
        setenv("PARVEX_CA_FILE", options.caFile.toUtf8().constData(), 1);
    }
    if (options.insecure) {
        setenv("PARVEX_INSECURE_TLS", "1", 1);
    }
    CSyncMyLog* log = OpenAppLog();
    ApplyStartupLanguage();
    if (!options.language.isEmpty()) {
        ApplyLanguage(LanguageIndexFromCode(options.language.toStdString()));
    }
    log->InfoFormat("parvex-cli: started, language %s", GetLanguageCode().c_str());
    m_bridge = CEngineBridge::Instance();
    m_bridge->SetEngineLanguage();
}

CCliSession::~CCliSession() {
    m_tracker.reset();
    CEngineBridge::Shutdown();
    m_receiver.reset();
    CloseAppLog();
}

bool CCliSession::StartEngine() {
    const int code = m_bridge->Start();
    if (code != 0) {
        Complain(ErrorMessageText(GetLangText(lang_text::kDataFolderInUse), code));
        return false;
    }
    return true;
}

bool CCliSession::WaitForEngineLoad() {
    const auto deadline = std::chrono::steady_clock::now() + kLoadDeadline;
    while (!m_bridge->IsTaskListLoaded()) {
        if (g_interrupted.load() || std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool CCliSession::StartTracker() {
    m_receiver = std::make_unique<CTaskReceiver>(nullptr);
    m_tracker = std::make_unique<CParvexTaskMgr>(m_bridge, kTrackerPoll);
    m_tracker->AddWindow(m_receiver.get());
    m_tracker->Start(0);
    return RunUntil([this] { return m_receiver->Loaded(); }, [] {}, std::chrono::milliseconds(20));
}

void CCliSession::BeginFollow(CProgressView& view, const QStringList& taskIds, bool startAll) {
    std::vector<std::pair<QString, int>> started; // with the state each was started from
    for (const QString& id : taskIds) {
        const int state = m_bridge->GetTaskView(id).viewState;
        // A completed task (one the engine resumed as its link was added again may finish
        // before this) is the result: started again it would wait here while the tracker
        // deletes it.
        if (state != view_state::kCompleted && (startAll || IsEndState(state))) {
            m_bridge->StartTask(id);
            started.emplace_back(id, state);
        }
    }
    // A start is applied within a dispatcher pass. One that fails again at once keeps its end
    // state, which is then the result.
    const auto deadline = std::chrono::steady_clock::now() + kRestartSettle;
    for (const auto& [id, state] : started) {
        while (IsEndState(state) && m_bridge->GetTaskView(id).viewState == state &&
               !g_interrupted.load() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Records read before the starts would end the wait at once.
    m_receiver->SetView(nullptr);
    QCoreApplication::sendPostedEvents(m_receiver.get());
    for (const QString& id : taskIds) {
        view.Follow(id);
        view.Update(id, m_bridge->GetTaskView(id));
    }
}

int CCliSession::Follow(CProgressView& view) {
    m_receiver->SetView(&view);
    view.Render();
    const bool finished =
        RunUntil([&view] { return view.AllEnded(); }, [&view] { view.Render(); }, kRedraw);
    view.Render();
    m_receiver->SetView(nullptr);
    if (!finished) {
        Complain(GetLangText(lang_text::kCliInterrupted));
        return kExitInterrupted;
    }
    int completed = 0;
    int failed = 0;
    for (const auto& [id, record] : view.Records()) {
        if (record.viewState == view_state::kCompleted) {
            ++completed;
            continue;
        }
        ++failed;
        if (record.viewState == view_state::kError) {
            QString name = DisplayName(record.targetPath);
            Complain(LangFormat(lang_text::kCliTaskFailed, name.toUtf8().constData(),
                                record.errorCode, record.errorText.toUtf8().constData()));
        }
    }
    if (view.Records().size() > 1 || failed != 0) {
        Say(LangFormat(lang_text::kCliSummary, completed, failed));
    }
    return failed == 0 ? kExitDone : kExitFailed;
}

void CCliSession::Say(const QString& text) {
    std::fprintf(stdout, "%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

void CCliSession::Complain(const QString& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    std::fflush(stderr);
}

const std::atomic<bool>* CCliSession::InterruptFlag() {
    return &g_interrupted;
}

bool CCliSession::Interrupted() {
    return g_interrupted.load();
}
