#include "cli/terminal.h"

#include <QList>

#include <cstdio>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

bool IsTerminal(int fd) {
    return isatty(fd) == 1;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::optional<QString> ReadHiddenLine(const QString& prompt) {
    if (!IsTerminal(STDIN_FILENO)) {
        return std::nullopt;
    }
    // Echo goes off before the prompt shows, so nothing typed after it is echoed or dropped.
    termios saved{};
    const bool haveSaved = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveSaved) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::fputs(prompt.toUtf8().constData(), stderr);
    std::fflush(stderr);
    std::string line;
    bool complete = false;
    for (;;) {
        char c = 0;
        const ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got <= 0) {
            // End of input, or a signal (Ctrl-C): no answer.
            break;
        }
        if (c == '\n') {
            complete = true;
            break;
        }
        line.push_back(c);
    }
    if (haveSaved) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    }
    std::fputc('\n', stderr);
    if (!complete) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return QString::fromUtf8(line);
}

int DisplayWidth(const QString& text) {
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        width += IsWide(c) ? 2 : 1;
    }
    return width;
}

QString FitToColumns(const QString& text, int columns) {
    if (DisplayWidth(text) <= columns) {
        return text;
    }
    QString fitted;
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        const int w = IsWide(c) ? 2 : 1;
        if (width + w > columns) {
            break;
        }
        width += w;
        fitted += QString::fromUcs4(&c, 1);
    }
    return fitted;
}
