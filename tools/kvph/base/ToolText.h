// Text conversions of the kvph tool, for both widths of wchar_t (UTF-16 on Windows, UTF-32 elsewhere).
#pragma once

#include <string>

namespace kvph::tool {

std::wstring fromUtf8(const std::string& bytes);
std::string toUtf8(const std::wstring& text);

// A log line or script for a terminal: control characters shown as escapes (\r, \n, \t, \xNN), and a
// line break after each \n that has more text after it, the next line indented by `indent`.
std::string readable(const std::wstring& text, const std::string& indent);
// The same escapes on one line: an argument or message can never start a line of its own.
std::string escaped(const std::wstring& text);

// Whether standard output is a terminal that takes colour (not redirected, NO_COLOR unset).
bool colourOutput();

}  // namespace kvph::tool
