// PH_GetVHDXVolumeLabel and PH_CheckVHDXReadOnly: where the attached VHDX drive's volume is reachable
// and whether it is read-only, answered from a freshly rebuilt Partition.ini.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "KvPartitionHelper.h"
#include "frame/ExportGuard.h"
#include "frame/Log.h"
#include "frame/Operations.h"
#include "frame/Text.h"
#include "inventory/PartitionInventory.h"
#include "inventory/VhdxPresenceQuery.h"
#include "platform/Platform.h"

namespace kvph::inventory {

namespace {

constexpr std::int32_t kUndeterminedState = -1;
inline constexpr wchar_t kUndeterminedText[] = L"0xffffffff";

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}
bool isDecimalDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}
bool isHexDigit(wchar_t c) {
    return isDecimalDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Reads a run of digits from `pos`; returns how many there were.
std::size_t skipDigits(const std::wstring& text, std::size_t& pos, bool (*isDigit)(wchar_t)) {
    const std::size_t start = pos;
    while (pos < text.size() && isDigit(text[pos])) {
        ++pos;
    }
    return pos - start;
}

// digits [. digits] with at least one digit, then an exponent only when digits follow its letter.
std::optional<std::string> scanMantissaAndExponent(const std::wstring& text, std::size_t pos,
                                                   bool (*isDigit)(wchar_t), const wchar_t* exponentLetters) {
    const std::size_t start = pos;
    std::size_t digits = skipDigits(text, pos, isDigit);
    if (pos < text.size() && text[pos] == L'.') {
        ++pos;
        digits += skipDigits(text, pos, isDigit);
    }
    if (digits == 0) {
        return std::nullopt;
    }
    if (pos < text.size() && (text[pos] == exponentLetters[0] || text[pos] == exponentLetters[1])) {
        std::size_t exponentEnd = pos + 1;
        if (exponentEnd < text.size() && (text[exponentEnd] == L'+' || text[exponentEnd] == L'-')) {
            ++exponentEnd;
        }
        if (skipDigits(text, exponentEnd, isDecimalDigit) > 0) {
            pos = exponentEnd;
        }
    }
    // Only ASCII characters were accepted, so narrowing keeps them.
    return std::string(text.begin() + static_cast<std::ptrdiff_t>(start),
                       text.begin() + static_cast<std::ptrdiff_t>(pos));
}

double parseBody(const std::string& body, std::chars_format format) {
    double value = 0;
    const auto outcome = std::from_chars(body.data(), body.data() + body.size(), value, format);
    // Out of range: overflow becomes a value that no 64-bit integer holds, underflow becomes 0; both
    // end as 0 in the low 32 bits, so either answer will do.
    return outcome.ec == std::errc() ? value : 0.0;
}

double leadingNumber(const std::wstring& text) {
    std::size_t pos = 0;
    while (pos < text.size() && isBlank(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
        negative = text[pos] == L'-';
        ++pos;
    }
    double magnitude = 0;
    const bool hexPrefix =
        pos + 1 < text.size() && text[pos] == L'0' && (text[pos + 1] == L'x' || text[pos + 1] == L'X');
    std::optional<std::string> hexBody;
    if (hexPrefix) {
        hexBody = scanMantissaAndExponent(text, pos + 2, isHexDigit, L"pP");
    }
    if (hexBody) {
        magnitude = parseBody(*hexBody, std::chars_format::hex);
    } else if (const auto decimalBody = scanMantissaAndExponent(text, pos, isDecimalDigit, L"eE")) {
        magnitude = parseBody(*decimalBody, std::chars_format::general);
    }
    return negative ? -magnitude : magnitude;
}

// Truncation toward zero to 64 bits; a value no 64-bit integer holds gives the integer indefinite value
// (only the sign bit set), as the processor's conversion does.
std::int64_t truncateToInt64(double value) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= kTwoTo63 || value < -kTwoTo63) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

// The disk that diskpart lists the attached VHDX on (nullopt inside when its row shows none); nullopt when
// the VHDX is not attached or diskpart could not list it.
std::optional<std::optional<int>> attachedOnDisk(const std::wstring& vhdxPath) {
    const std::optional<VdiskPresence> presence = QueryVdiskPresence(vhdxPath);
    if (!presence || !presence->attached) {
        return std::nullopt;
    }
    return presence->diskNumber;
}

std::wstring& libraryMessageBuffer() {
    static std::wstring buffer;
    return buffer;
}

int volumeLetter(const wchar_t* vhdxPath, wchar_t* letterOut) {
    if (letterOut == nullptr) {
        logExportFailure(L"PH_GetVHDXVolumeLabel", L"the output buffer is null.");
        return 0;
    }
    writeHostText(letterOut, L"");
    const std::optional<std::wstring> path =
        textArgument(L"PH_GetVHDXVolumeLabel", L"the VHDX path", vhdxPath);
    const auto disk = path ? attachedOnDisk(*path) : std::nullopt;
    if (!disk) {
        return 0;
    }
    PH_ListFixedPartition();
    const std::wstring iniPath = PartitionIniPath();
    const std::optional<int> section = FindVirtualDiskEntry(iniPath, *disk);
    if (!section) {
        return 0;
    }
    const std::wstring sectionName = std::to_wstring(*section);
    const std::wstring letter = readText(iniPath, sectionName, kLetterKey, L"");
    const std::wstring readOnlyText = readText(iniPath, sectionName, kReadOnlyKey, L"");
    // A volume whose information was unavailable still has its letter, though nothing answers at it. A
    // section without a letter (its write failed) has nothing to give: 1 always comes with a letter.
    if (letter.empty() ||
        (!platform().pathFileExistsW(letter) && !equalsNoCase(readOnlyText, kUndeterminedText))) {
        return 0;
    }
    writeHostText(letterOut, letter);
    std::wstring& message = libraryMessageBuffer();
    message = formatBounded(kTextUnits, L"Halloway - PH_GetVHDXVolumeLabel is %ls", letterOut);
    logLine(message);
    return 1;
}

int volumeReadOnlyState(const wchar_t* vhdxPath, int* stateOut) {
    if (stateOut == nullptr) {
        logExportFailure(L"PH_CheckVHDXReadOnly", L"the output pointer is null.");
        return 0;
    }
    const std::optional<std::wstring> path =
        textArgument(L"PH_CheckVHDXReadOnly", L"the VHDX path", vhdxPath);
    if (!path) {
        return 0;
    }
    *stateOut = kUndeterminedState;
    const auto disk = attachedOnDisk(*path);
    if (!disk) {
        return 1;
    }
    PH_ListFixedPartition();
    const std::wstring iniPath = PartitionIniPath();
    if (const std::optional<int> section = FindVirtualDiskEntry(iniPath, *disk)) {
        *stateOut = ReadOnlyStateFromText(readText(iniPath, std::to_wstring(*section), kReadOnlyKey, L"0"));
    }
    return 1;
}

}  // namespace

std::int32_t ReadOnlyStateFromText(const std::wstring& text) {
    const auto bits = static_cast<std::uint64_t>(truncateToInt64(leadingNumber(text)));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
}

}  // namespace kvph::inventory

namespace kvph {

int GetVHDXVolumeLabel(const wchar_t* vhdxPath, wchar_t* letterOut) {
    return inventory::volumeLetter(vhdxPath, letterOut);
}

int CheckVHDXReadOnly(const wchar_t* vhdxPath, int* readOnlyOut) {
    return inventory::volumeReadOnlyState(vhdxPath, readOnlyOut);
}

}  // namespace kvph
