#include "cli/cli_commands.h"

#include "app/engine_bridge.h"
#include "app/lang_text.h"
#include "cli/cli_session.h"
#include "cli/link_selection.h"
#include "cli/terminal.h"
#include "intake/link_confirm.h"
#include "intake/selection_check.h"
#include "tracking/add_failure_text.h"
#include "views/task_texts.h"

#include <QDir>

#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kPasswordLabelText = 25;
constexpr int kPasswordAttempts = 3;
// A pause or removal is applied within a dispatcher pass; this bounds the wait for it.
constexpr auto kChangeDeadline = std::chrono::seconds(30);

QByteArray Utf8(const QString& text) {
    return text.toUtf8();
}

// The exit status of a run interrupted by Ctrl-C, said.
int Interrupted() {
    CCliSession::Complain(GetLangText(lang_text::kCliInterrupted));
    return kExitInterrupted;
}

// The add dialog's confirm sequence; on a terminal a refused empty password is asked for.
int OpenLink(CCliSession& session, const CliOptions& options, LinkConfirmResult& opened) {
    QString password = options.password;
    for (int attempt = 0;; ++attempt) {
        opened = ConfirmLink(&session.Bridge(), options.link, password);
        if (CCliSession::Interrupted()) {
            return Interrupted();
        }
        if (opened.outcome == ConfirmOutcome::kAccepted) {
            return kExitDone;
        }
        // A platform failure (no connection, a refused scheme) is no question of the password.
        const bool platformFailure = opened.errorCode > 0 && opened.errorCode < 20000;
        const bool askable = opened.outcome == ConfirmOutcome::kStayOpen &&
                             opened.focus == ConfirmFocus::kPassword && password.isEmpty() &&
                             !options.hasPassword && attempt < kPasswordAttempts &&
                             !platformFailure;
        if (askable && IsTerminal(STDIN_FILENO)) {
            const std::optional<QString> typed = ReadHiddenLine(GetLangText(kPasswordLabelText));
            if (CCliSession::Interrupted()) {
                return Interrupted();
            }
            if (typed && !typed->isEmpty()) {
                password = *typed;
                continue;
            }
        }
        CCliSession::Complain(opened.message);
        if (askable) {
            CCliSession::Complain(GetLangText(lang_text::kCliPasswordNeeded));
        }
        return kExitLink;
    }
}

// Lists the opened link; the exit status, the failure said when not even the link's own item
// could be read.
int ListLink(CCliSession& session, const LinkConfirmResult& link, LinkItem& root,
             LinkItem& allItems) {
    BridgeStatus status;
    session.Bridge().ListLinkTree(link.serviceAddress, link.deliveryCode, link.accessToken, root,
                                  allItems, status, CCliSession::InterruptFlag());
    if (CCliSession::Interrupted()) {
        return Interrupted();
    }
    if (root.path.isEmpty()) {
        CCliSession::Complain(ErrorMessageText(status.message, status.code));
        return kExitLink;
    }
    if (status.code != 0) {
        // A folder below could not be listed: what was found is still shown and downloadable
        // (the download lists the folders again).
        CCliSession::Complain(ErrorMessageText(status.message, status.code));
    }
    return kExitDone;
}

QString ItemLine(const LinkItem& item) {
    const QString kind = item.isFolder ? QStringLiteral("dir ") : QStringLiteral("file");
    const QString size =
        item.isFolder ? QString()
                      : SizeText(static_cast<std::uint64_t>(std::max<std::int64_t>(item.bytes, 0)));
    const bool outer = !item.convertedUrl.isEmpty() || !item.watermarkUrl.isEmpty();
    return kind + u' ' + size.rightJustified(12) + QStringLiteral("  ") + item.path +
           (outer ? QStringLiteral("  *") : QString());
}

QString AbsoluteFolder(const QString& folder) {
    return QDir::cleanPath(QDir::current().absoluteFilePath(folder.isEmpty() ? "." : folder));
}

// Waits until the engine shows the task in `viewState`, then says text `said` with its id; the
// exit status, a failure said.
int SayWhenApplied(CEngineBridge& bridge, const QString& taskId, int viewState, int said) {
    const auto deadline = std::chrono::steady_clock::now() + kChangeDeadline;
    while (bridge.GetTaskView(taskId).viewState != viewState) {
        if (CCliSession::Interrupted()) {
            return Interrupted();
        }
        if (std::chrono::steady_clock::now() > deadline) {
            CCliSession::Complain(GetLangText(lang_text::kCliEngineSlow));
            return kExitFailed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    CCliSession::Say(LangFormat(said, Utf8(taskId).constData()));
    return kExitDone;
}

// Starts the engine and waits for its stored tasks; the exit status, the failure said.
int OpenEngine(CCliSession& session) {
    if (!session.StartEngine()) {
        return kExitFailed;
    }
    if (!session.WaitForEngineLoad()) {
        if (CCliSession::Interrupted()) {
            return Interrupted();
        }
        CCliSession::Complain(GetLangText(lang_text::kCliEngineSlow));
        return kExitFailed;
    }
    return kExitDone;
}

// A task the engine knows, or a reported refusal.
bool KnownTask(CEngineBridge& bridge, const QString& taskId) {
    const CTaskViewInfo view = bridge.GetTaskView(taskId);
    if (taskId.isEmpty() || view.taskId != taskId || view.viewState == view_state::kAbsent) {
        CCliSession::Complain(LangFormat(lang_text::kCliUnknownTask, Utf8(taskId).constData()));
        return false;
    }
    return true;
}

} // namespace

int RunList(CCliSession& session, const CliOptions& options) {
    LinkConfirmResult link;
    if (const int status = OpenLink(session, options, link); status != kExitDone) {
        return status;
    }
    LinkItem root;
    LinkItem allItems;
    if (const int status = ListLink(session, link, root, allItems); status != kExitDone) {
        return status;
    }
    CCliSession::Say(ItemLine(root));
    for (const LinkItem& item : allItems.children) {
        CCliSession::Say(ItemLine(item));
    }
    return kExitDone;
}

int RunGet(CCliSession& session, const CliOptions& options) {
    if (!session.StartEngine()) {
        return kExitFailed;
    }
    LinkConfirmResult link;
    if (const int status = OpenLink(session, options, link); status != kExitDone) {
        return status;
    }
    if (IsTerminal(STDOUT_FILENO)) {
        CCliSession::Say(GetLangText(lang_text::kCliListing));
    }
    LinkItem root;
    LinkItem allItems;
    if (const int status = ListLink(session, link, root, allItems); status != kExitDone) {
        return status;
    }
    std::vector<LinkItem> picked;
    QString unknown;
    if (!SelectLinkItems(root, allItems, options.selections, picked, unknown)) {
        CCliSession::Complain(LangFormat(lang_text::kCliUnknownItem, Utf8(unknown).constData()));
        return kExitUsage;
    }
    const QString saveFolder = AbsoluteFolder(options.saveFolder);
    const SelectionCheck check = ConfirmSelection(picked, allItems, saveFolder);
    if (!check.accepted) {
        CCliSession::Complain(check.message);
        return SelectionHasOuterChain(picked, allItems) ? kExitLink : kExitUsage;
    }
    if (!session.StartTracker()) {
        return Interrupted();
    }

    CProgressView view(stdout, IsTerminal(STDOUT_FILENO));
    QStringList taskIds;
    int refused = 0;
    for (const AddedTask& added :
         session.Tracker().AddDownloadTasks(picked, saveFolder, link.accessToken, link.password)) {
        if (added.errorCode != 0 || added.taskId.isEmpty() || taskIds.contains(added.taskId)) {
            CCliSession::Complain(AddFailureText(added));
            ++refused;
        } else {
            CCliSession::Say(LangFormat(lang_text::kCliAdded, Utf8(added.itemPath).constData(),
                                        Utf8(added.localPath).constData()));
            taskIds.append(added.taskId);
        }
    }
    if (taskIds.isEmpty()) {
        return kExitFailed;
    }
    session.BeginFollow(view, taskIds, /*startAll=*/false);
    const int status = session.Follow(view);
    if (status == kExitDone && refused == 0) {
        CCliSession::Say(LangFormat(lang_text::kCliAllDone, Utf8(saveFolder).constData()));
        return kExitDone;
    }
    return status == kExitDone ? kExitFailed : status;
}

// Starts the engine and the task tracker and takes its snapshot of the unfinished tasks; the
// exit status, a failure said.
static int OpenSnapshot(CCliSession& session, std::map<QString, CTaskViewInfo>& tasks) {
    if (!session.StartEngine()) {
        return kExitFailed;
    }
    if (!session.StartTracker()) {
        return Interrupted();
    }
    session.Tracker().GetAllTasks(tasks);
    return kExitDone;
}

int RunStatus(CCliSession& session) {
    std::map<QString, CTaskViewInfo> tasks;
    if (const int status = OpenSnapshot(session, tasks); status != kExitDone) {
        return status;
    }
    if (tasks.empty()) {
        CCliSession::Say(GetLangText(lang_text::kCliNoTasks));
    }
    for (const auto& [id, record] : tasks) {
        CCliSession::Say(id + QStringLiteral("  ") + TaskLine(record));
    }
    return kExitDone;
}

int RunResume(CCliSession& session, const CliOptions& options) {
    std::map<QString, CTaskViewInfo> tasks;
    if (const int status = OpenSnapshot(session, tasks); status != kExitDone) {
        return status;
    }
    QStringList chosen = options.taskIds;
    for (const QString& id : chosen) {
        if (tasks.count(id) == 0) {
            CCliSession::Complain(LangFormat(lang_text::kCliUnknownTask, Utf8(id).constData()));
            return kExitUsage;
        }
    }
    if (chosen.isEmpty()) {
        for (const auto& [id, record] : tasks) {
            if (record.viewState != view_state::kPaused) {
                chosen.append(id);
            }
        }
    }
    if (chosen.isEmpty()) {
        CCliSession::Say(GetLangText(lang_text::kCliNoTasks));
        return kExitDone;
    }
    CProgressView view(stdout, IsTerminal(STDOUT_FILENO));
    session.BeginFollow(view, chosen, /*startAll=*/true);
    return session.Follow(view);
}

int RunPause(CCliSession& session, const CliOptions& options) {
    const QString taskId = options.taskIds.value(0);
    if (const int status = OpenEngine(session); status != kExitDone) {
        return status;
    }
    if (!KnownTask(session.Bridge(), taskId)) {
        return kExitUsage;
    }
    // A completed or failed task has nothing to pause: its state is the answer.
    const CTaskViewInfo before = session.Bridge().GetTaskView(taskId);
    if (before.viewState == view_state::kCompleted || before.viewState == view_state::kError) {
        CCliSession::Complain(TaskLine(before));
        return kExitFailed;
    }
    session.Bridge().PauseTask(taskId);
    return SayWhenApplied(session.Bridge(), taskId, view_state::kPaused, lang_text::kCliPaused);
}

int RunRemove(CCliSession& session, const CliOptions& options) {
    const QString taskId = options.taskIds.value(0);
    if (const int status = OpenEngine(session); status != kExitDone) {
        return status;
    }
    if (!KnownTask(session.Bridge(), taskId)) {
        return kExitUsage;
    }
    session.Bridge().DeleteTask(taskId);
    return SayWhenApplied(session.Bridge(), taskId, view_state::kAbsent, lang_text::kCliRemoved);
}
