// Feeds arbitrary bytes as diskpart's captured "list vdisk" listing (result.txt) to the vdisk matcher.
//
// Input: the listing's bytes; its first line (up to the first LF, a CR before it left out) is also the VHDX
// path asked for. The matcher must not crash on any listing. For a path with a .vhd or .vhdx extension, two
// listings built around the fuzzed one must then be read right:
// - a line that shows the path as its last column, after white space, with "Attached" earlier on the line,
//   added after it: the path is attached;
// - a table in words no rule knows (a heading, its dashes, a row with the disk number 4 under the second
//   group of dashes and the path as its last column) put before it: the path is attached on disk 4, as
//   that first row says, whatever the fuzzed lines after it hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "frame/Text.h"
#include "inventory/VhdxPresenceQuery.h"
#include "sim/Machine.h"

namespace {

constexpr wchar_t kResultPath[] = L"C:\\Program Files\\Host\\result.txt";

bool hasVdiskExtension(const std::wstring& path) {
    const std::wstring upper = kvph::toUpperAscii(path);
    const auto endsWith = [&upper](const std::wstring& tail) {
        return upper.size() > tail.size() &&
               upper.compare(upper.size() - tail.size(), tail.size(), tail) == 0;
    };
    const std::size_t separator = upper.find_last_of(L"\\/");
    const std::size_t dot = upper.find_last_of(L'.');
    return (endsWith(L".VHDX") || endsWith(L".VHD")) && (separator == std::wstring::npos || separator < dot);
}

// Plain ASCII reads the same whether the listing is taken as UTF-8 or one byte per unit, so the added
// line keeps the path's units whatever the fuzzed bytes before it are.
bool isPrintableAscii(const std::string& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string listing(reinterpret_cast<const char*>(data), size);
    std::string keyBytes = listing.substr(0, listing.find('\n'));
    if (!keyBytes.empty() && keyBytes.back() == '\r') {
        keyBytes.pop_back();
    }
    const std::wstring key = kvph::fromUtf8OrBytes(keyBytes);

    sim::Machine machine;
    kvph::ScopedPlatform installed(machine);
    machine.model().letters.push_back(L'C');
    machine.putFolder(L"C:\\Program Files");
    machine.putFolder(L"C:\\Program Files\\Host");
    machine.putFile(kResultPath, listing);
    kvph::FindAttachedInVdiskList(kResultPath, key);

    if (isPrintableAscii(keyBytes) && hasVdiskExtension(key)) {
        machine.putFile(kResultPath,
                        listing + "\r\n  VDisk 3    Disk 4    Attached not open  Expandable  " + keyBytes);
        if (!kvph::FindAttachedInVdiskList(kResultPath, key).attached) {
            __builtin_trap();
        }
        machine.putFile(kResultPath,
                        "\r\n  Zq ###  Wub ###  Ok\r\n  ------  -------  --\r\n  Zq 3    Wub 4    "
                        "Ok  " +
                            keyBytes + "\r\n" + listing);
        const kvph::VdiskPresence first = kvph::FindAttachedInVdiskList(kResultPath, key);
        if (!first.attached || first.diskNumber != 4) {
            __builtin_trap();
        }
    }
    return 0;
}
