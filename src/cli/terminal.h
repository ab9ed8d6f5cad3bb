#pragma once

#include <QString>

#include <optional>

// Whether the descriptor is a terminal.
bool IsTerminal(int fd);
// Columns of the terminal on standard output; 80 when unknown.
int TerminalColumns();
// Asks on the terminal without echoing what is typed; nullopt when there is no terminal or
// input ended.
std::optional<QString> ReadHiddenLine(const QString& prompt);
// Columns a text takes on a terminal: wide East Asian characters take two.
int DisplayWidth(const QString& text);
// The text cut to at most `columns` columns.
QString FitToColumns(const QString& text, int columns);
