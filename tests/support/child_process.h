#pragma once

#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace testing_support {

// A program run as a child process; standard output and error go to files, standard input
// reads nothing. The child is killed when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 std::string outPath, std::string errPath);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0 || m_ended; }
    // Whether the child has ended (its status is then kept).
    bool Ended();
    // The exit status (128 + signal for a killed child); -1 when it has not ended in time.
    int Exit(std::chrono::milliseconds deadline = std::chrono::minutes(4));
    void Signal(int signal) const;
    void Kill();

    // While it runs: its process id, else -1.
    pid_t Pid() const { return m_pid; }
    // Once ended: the signal that ended it, 0 when it called exit().
    int TermSignal() const;
    // Once ended: its peak resident memory in KiB, from wait4.
    long PeakMemoryKiB() const { return m_usage.ru_maxrss; }

    std::string Out() const;
    std::string Err() const;
    const std::string& OutPath() const { return m_out; }
    const std::string& ErrPath() const { return m_err; }

private:
    std::string m_out;
    std::string m_err;
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = 0;
    rusage m_usage{};
};

} // namespace testing_support
