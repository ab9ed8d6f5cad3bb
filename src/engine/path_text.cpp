#include "engine/path_text.h"

#include <algorithm>

PathText::PathText(std::string_view text, bool platformForm)
    : m_text(text), m_separator(platformForm ? '/' : '\\'),
      m_otherSeparator(platformForm ? '\\' : '/') {}

PathText& PathText::Append(std::string_view part) {
    m_text.push_back(m_separator);
    m_text.append(part);
    return Normalize();
}

PathText& PathText::Normalize() {
    std::replace(m_text.begin(), m_text.end(), m_otherSeparator, m_separator);
    const bool networkPrefix = m_text.rfind("\\\\", 0) == 0;
    std::string out;
    out.reserve(m_text.size());
    std::size_t pos = 0;
    if (networkPrefix) {
        out = "\\\\";
        pos = 2;
    }
    for (; pos < m_text.size(); ++pos) {
        const char ch = m_text[pos];
        if (ch == m_separator && !out.empty() && out.back() == m_separator &&
            !(networkPrefix && out.size() == 2)) {
            continue;
        }
        out.push_back(ch);
    }
    m_text = std::move(out);
    return *this;
}
