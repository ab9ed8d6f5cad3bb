#pragma once

#include <string>
#include <string_view>

// A path held as text with one separator: "/" (the platform form) with "\" as the other
// separator, or "\" with "/" as the other. Normalising turns every other separator into the
// separator and collapses runs of separators.
class PathText {
public:
    explicit PathText(std::string_view text = {}, bool platformForm = true);

    const std::string& Text() const { return m_text; }
    char Separator() const { return m_separator; }

    // Adds the separator and the part, then normalises.
    PathText& Append(std::string_view part);
    // Every other separator becomes the separator and runs of separators collapse to one; a
    // text that starts with two backslashes (a network path) keeps them.
    PathText& Normalize();

private:
    std::string m_text;
    char m_separator;
    char m_otherSeparator;
};
