#pragma once

#include <string_view>
#include <strings.h>

// Header values as HTTP compares them: case-insensitive names and tokens,
// optional whitespace around list items.
namespace HttpText {

inline bool same(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

inline std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace HttpText
