// Text rules of the simulated machine: Windows-style case folding, the ANSI code page, UTF-8 and
// UTF-16 counting on a host whose wchar_t may be 32 bits wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sim::text {

// Upper case as the file system and the profile calls fold it: ASCII and the Latin-1 letters.
wchar_t upper(wchar_t c);
std::wstring upper(std::wstring s);
bool equalsNoCase(const std::wstring& a, const std::wstring& b);
bool containsNoCase(const std::wstring& haystack, const std::wstring& needle);
bool startsWithNoCase(const std::wstring& s, const std::wstring& prefix);

std::wstring trim(const std::wstring& s);
std::wstring trimRight(const std::wstring& s);

// Code units the text takes in UTF-16.
std::size_t utf16Length(const std::wstring& s);
// The longest prefix of `s` that fits in `units` UTF-16 units (a pair is never split).
std::wstring cutToUtf16(const std::wstring& s, std::size_t units);

// Whether the machine can convert text in this code page.
bool supportedCodePage(std::uint32_t codePage);
// WideCharToMultiByte: characters the code page lacks become '?', one per UTF-16 unit; with `bestFit`, a
// character that has a look-alike in the code page becomes that instead, as without WC_NO_BEST_FIT_CHARS.
std::string toCodePage(const std::wstring& s, std::uint32_t codePage, bool bestFit = false);
// The byte code page 1252 gives a character it lacks when best fit is on, if any.
std::optional<unsigned char> bestFitOf1252(char32_t c);
// MultiByteToWideChar: every byte of code page 1252 has a character.
std::wstring fromCodePage(const std::string& bytes, std::uint32_t codePage);

std::string toUtf8(const std::wstring& s);
// Invalid sequences become U+FFFD, as the console decodes them.
std::wstring fromUtf8(const std::string& bytes);

std::wstring widen(const std::string& ascii);
std::string narrow(const std::wstring& ascii);

}  // namespace sim::text
