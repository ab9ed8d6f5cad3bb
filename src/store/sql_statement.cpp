#include "store/sql_statement.h"

#include <sqlite3.h>

#include <cassert>

namespace {

std::string Doubled(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out;
}

} // namespace

SqlStatement::SqlStatement(std::string_view text) : m_sql(text), m_log(text) {}

SqlStatement& SqlStatement::Raw(std::string_view text) {
    m_sql += text;
    m_log += text;
    return *this;
}

void SqlStatement::Value(std::string_view fragment, std::string_view placeholder,
                         std::string_view shown) {
    const std::size_t at = fragment.find(placeholder);
    assert(at != std::string_view::npos);
    m_sql.append(fragment.substr(0, at))
        .append("?")
        .append(fragment.substr(at + placeholder.size()));
    // The logged text keeps the quotes of "'%s'" around the value.
    const std::string_view inner = placeholder == "'%s'" ? std::string_view("%s") : placeholder;
    const std::size_t innerAt = at + placeholder.find(inner);
    m_log.append(fragment.substr(0, innerAt))
        .append(shown)
        .append(fragment.substr(innerAt + inner.size()));
}

SqlStatement& SqlStatement::Text(std::string_view fragment, std::string_view value,
                                 bool doubledInLog) {
    Value(fragment, "'%s'", doubledInLog ? std::string_view(Doubled(value)) : value);
    m_values.emplace_back(std::string(value));
    return *this;
}

SqlStatement& SqlStatement::Int(std::string_view fragment, std::int64_t value) {
    Value(fragment, "%d", std::to_string(value));
    m_values.emplace_back(value);
    return *this;
}

SqlStatement& SqlStatement::Uint64(std::string_view fragment, std::uint64_t value) {
    Value(fragment, "%llu", std::to_string(value));
    // SQLite integers are signed 64-bit; reading the column back as unsigned restores the value.
    m_values.emplace_back(static_cast<std::int64_t>(value));
    return *this;
}

int SqlStatement::Bind(sqlite3_stmt* statement) const {
    int index = 1;
    for (const auto& value : m_values) {
        int rc = SQLITE_OK;
        if (const auto* text = std::get_if<std::string>(&value)) {
            rc = sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                                   SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_int64(statement, index, std::get<std::int64_t>(value));
        }
        if (rc != SQLITE_OK) {
            return rc;
        }
        ++index;
    }
    return SQLITE_OK;
}
