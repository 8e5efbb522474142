// The library's log: one OutputDebugStringW call per complete message.
#pragma once

#include <cstddef>
#include <string>

namespace kvph {

constexpr std::size_t kTextUnits = 260;      // MAX_PATH: every text buffer of the library
constexpr std::size_t kWideLogUnits = 520;   // the per-partition report of the listing
constexpr std::size_t kWsprintfUnits = 256;  // messages of the disk enumeration and classification

// The prefix of every message of the exported operations.
inline constexpr wchar_t kLogPrefix[] = L"(KvPartitionHelper)";

void logLine(const std::wstring& message);
void logNarrow(const std::string& message);

// printf-style formatting into a buffer of `bufferUnits` UTF-16 units: the result is cut to
// bufferUnits - 1 units, as the bounded platform formatters do. Use %ls for wide strings.
std::wstring formatBounded(std::size_t bufferUnits, const wchar_t* format, ...);

}  // namespace kvph
