#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3_stmt;

// One SQL statement whose values are bound as parameters, together with the text it is logged
// as: the same statement with each value written in place. Binding keeps quotes and other
// characters in values (paths and fingerprints come from the service) out of the SQL itself.
//
// Each value is added with a fragment that holds exactly one placeholder: "'%s'" for text,
// "%d" or "%llu" for numbers. The fragment goes into the SQL with "?" for the placeholder and
// into the logged text with the value.
class SqlStatement {
public:
    explicit SqlStatement(std::string_view text = {});

    SqlStatement& Raw(std::string_view text);
    // With doubledInLog, single quotes of the value appear doubled in the logged text, as they
    // would in an SQL literal.
    SqlStatement& Text(std::string_view fragment, std::string_view value,
                       bool doubledInLog = false);
    SqlStatement& Int(std::string_view fragment, std::int64_t value);
    SqlStatement& Uint64(std::string_view fragment, std::uint64_t value);

    const std::string& Sql() const { return m_sql; }
    const std::string& LogText() const { return m_log; }
    // Binds the values to a statement prepared from Sql(); returns the first SQLite error.
    int Bind(sqlite3_stmt* statement) const;

private:
    void Value(std::string_view fragment, std::string_view placeholder, std::string_view shown);

    std::string m_sql;
    std::string m_log;
    std::vector<std::variant<std::string, std::int64_t>> m_values;
};
