#include "support/child_process.h"

#include "support/temp_dir.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           std::string outPath, std::string errPath)
    : m_out(std::move(outPath)), m_err(std::move(errPath)) {
    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::Ended() {
    if (m_pid > 0 && wait4(m_pid, &m_status, WNOHANG, &m_usage) == m_pid) {
        m_pid = -1;
        m_ended = true;
    }
    return m_ended;
}

int ChildProcess::Exit(std::chrono::milliseconds deadline) {
    if (!WaitUntil([this] { return Ended(); }, deadline)) {
        return -1;
    }
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
}

int ChildProcess::TermSignal() const {
    return m_ended && WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0;
}

void ChildProcess::Signal(int signal) const {
    if (m_pid > 0) {
        kill(m_pid, signal);
    }
}

void ChildProcess::Kill() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        wait4(m_pid, &m_status, 0, &m_usage);
        m_pid = -1;
        m_ended = true;
    }
}

std::string ChildProcess::Out() const {
    return ReadFile(m_out);
}

std::string ChildProcess::Err() const {
    return ReadFile(m_err);
}

} // namespace testing_support
