// Text helpers shared by the library: UTF-16 lengths, ASCII case, UTF-8, ANSI script arguments.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace kvph {

// Length of a text in UTF-16 code units (wchar_t is UTF-32 on the simulator's host).
std::size_t utf16Length(const std::wstring& text);

// Reads a NUL-terminated text from the host, looking at no more than `maxUnits` units: nullopt when no
// terminator is found within them (the text is too long for the library's 260-unit buffers).
std::optional<std::wstring> readHostText(const wchar_t* text, std::size_t maxUnits = 260);

// Copies `text` into a host buffer of 260 units with its terminator (text longer than 259 units is cut).
void writeHostText(wchar_t* buffer, const std::wstring& text);

// Only a to z / A to Z change case, as the library's comparisons require.
std::wstring toUpperAscii(std::wstring text);
bool equalsNoCase(const std::wstring& a, const std::wstring& b);

std::string toUtf8(const std::wstring& text);
// Decodes UTF-8; text that is not valid UTF-8 is taken one byte per unit.
std::wstring fromUtf8OrBytes(const std::string& bytes);

// Converts a text to the system ANSI code page for a diskpart script, without best fit: nullopt when the
// conversion fails, its result needs more than 259 bytes, or holds a double quote or a control character.
std::optional<std::string> scriptArgument(const std::wstring& text);

// Whether a text may stand between the double quotes of a script line: no double quote and no control
// character (below U+0020), either of which would let the text end the line and add commands of its own.
bool isScriptSafeText(const std::wstring& text);

}  // namespace kvph
