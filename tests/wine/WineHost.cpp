// The Windows side of the Wine tests: calls into the real KvPartitionHelper.dll and prints what it saw
// as plain lines for run_wine_tests.sh to check. A command run through the kvph tool's host prints the
// DLL's debug output last, one "log <line>" each.
//
//   wine_host exports <dll>            every export resolves by name and by its ordinal, and no other
//                                      ordinal resolves; exit code 1 on any mismatch
//   wine_host check-exist <vhdx>       PH_CheckExistVHDX through the kvph tool's host (DLL next to this
//                                      program, debug output captured): "result N", then "log <line>"
//   wine_host list-fixed               PH_ListFixedPartition through the tool's host: "result N", log lines
//   wine_host check-exist-at <dll> <vhdx>
//                                      PH_CheckExistVHDX of the DLL at that path: "result N"
//   wine_host attributes <path>        "attributes 0x%08x", or "attributes missing"
//   wine_host set-attributes <path> <hex>
//                                      SetFileAttributesW: "set 1" or "set 0"
//   wine_host readonly <vhdx>          PH_CheckVHDXReadOnly through the tool's host: "result N", "state S"
//                                      (S preset to 7, so a state never stored shows), then the log lines
//   wine_host readonly-null <vhdx>     PH_CheckVHDXReadOnly with a null state pointer: "result N", log lines
//   wine_host letter <vhdx>            PH_GetVHDXVolumeLabel into a buffer holding junk: "result N",
//                                      "output <text>", then the log lines
//   wine_host abandoned-lock <vhdx>    a thread takes the library's call mutex and ends without releasing
//                                      it; then PH_CheckExistVHDX twice: "result N", "again N", log lines
//   wine_host quote-look-alikes <folder>
//                                      for U+FF02, U+02BA and U+201C in turn: PH_CreateVHDX of
//                                      <folder>\QuoteN.vhdx with the label "A<c> x", PH_FormatNTFS "E<c>:"
//                                      "A<c> x", PH_SetNonHidden and PH_SetHidden "K<c>:": "<export> N" each
//   wine_host attach <vhdx>            PH_AttachVHDX: "result N"
//   wine_host compact <vhdx>           PH_CompactThenAttachVHDX: "result N"
//   wine_host attach-and-compact <vhdx>
//                                      PH_AttachVHDX and PH_CompactThenAttachVHDX on two threads released
//                                      at the same moment: "attach N", "compact N"
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>

#include "kvph/base/Host.h"

namespace {

using kvph::tool::Host;

struct ExpectedExport {
    const char* name;
    unsigned ordinal;
};

constexpr ExpectedExport kExpectedExports[] = {
    {"PH_ListFixedPartition", 1}, {"PH_CreateVHDX", 2},
    {"PH_AttachVHDX", 3},         {"PH_DetachVHDX", 4},
    {"PH_CheckExistVHDX", 5},     {"PH_FormatNTFS", 6},
    {"PH_FindUsableLabel", 7},    {"PH_CompactThenAttachVHDX", 8},
    {"PH_GetVHDXVolumeLabel", 9}, {"PH_CheckVHDXReadOnly", 10},
    {"PH_SetHidden", 21},         {"PH_SetNonHidden", 22},
};
constexpr unsigned kHighestOrdinal = 0xFFFF;

bool isExpectedOrdinal(unsigned ordinal) {
    for (const ExpectedExport& expected : kExpectedExports) {
        if (expected.ordinal == ordinal) {
            return true;
        }
    }
    return false;
}

// Log lines hold CR LF; they are printed escaped so each message stays on one output line.
std::string escaped(const std::wstring& line) {
    std::string text;
    for (wchar_t unit : line) {
        if (unit == L'\r') {
            text += "\\r";
        } else if (unit == L'\n') {
            text += "\\n";
        } else if (unit >= 0x20 && unit < 0x7F) {
            text += static_cast<char>(unit);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(unit));
            text += code;
        }
    }
    return text;
}

HMODULE load(const wchar_t* dllPath) {
    const HMODULE library = LoadLibraryW(dllPath);
    if (library == nullptr) {
        std::printf("FAIL cannot load the library (error %lu)\n", GetLastError());
    }
    return library;
}

int checkExports(const wchar_t* dllPath) {
    const HMODULE library = load(dllPath);
    if (library == nullptr) {
        return 1;
    }
    int mismatches = 0;
    for (const ExpectedExport& expected : kExpectedExports) {
        const FARPROC byName = GetProcAddress(library, expected.name);
        const FARPROC byOrdinal = GetProcAddress(library, MAKEINTRESOURCEA(expected.ordinal));
        const bool ok = byName != nullptr && byName == byOrdinal;
        mismatches += ok ? 0 : 1;
        std::printf("%s %s @%u\n", ok ? "ok" : "FAIL", expected.name, expected.ordinal);
    }
    for (unsigned ordinal = 1; ordinal <= kHighestOrdinal; ++ordinal) {
        if (!isExpectedOrdinal(ordinal) && GetProcAddress(library, MAKEINTRESOURCEA(ordinal)) != nullptr) {
            ++mismatches;
            std::printf("FAIL unexpected export @%u\n", ordinal);
        }
    }
    FreeLibrary(library);
    return mismatches == 0 ? 0 : 1;
}

// Runs a command through the kvph tool's host: the DLL next to this program, its debug output captured
// and printed after the command's own lines.
template <typename Command>
int throughHost(Command command) {
    std::string error;
    const auto host = kvph::tool::makeLibraryHost(error);
    if (!host) {
        std::printf("FAIL %s\n", error.c_str());
        return 1;
    }
    host->takeLog();
    const int status = command(*host);
    for (const std::wstring& line : host->takeLog()) {
        std::printf("log %s\n", escaped(line).c_str());
    }
    return status;
}

int printResult(int result) {
    std::printf("result %d\n", result);
    return 0;
}

int readOnly(Host& host, const wchar_t* vhdxPath, bool withState) {
    int state = 7;
    std::printf("result %d\n", host.exports().checkVHDXReadOnly(vhdxPath, withState ? &state : nullptr));
    if (withState) {
        std::printf("state %d\n", state);
    }
    return 0;
}

int volumeLetter(Host& host, const wchar_t* vhdxPath) {
    wchar_t letter[260];
    std::wmemset(letter, L'#', 259);
    letter[259] = L'\0';
    std::printf("result %d\n", host.exports().getVHDXVolumeLabel(vhdxPath, letter));
    std::printf("output %s\n", escaped(letter).c_str());
    return 0;
}

// The name the library gives its machine-wide call mutex.
constexpr wchar_t kCallMutexName[] = L"Global\\KvPartitionHelper.Calls";

DWORD WINAPI takeAndEnd(LPVOID mutex) {
    return WaitForSingleObject(static_cast<HANDLE>(mutex), INFINITE);
}

int checkExistAfterAbandonedLock(Host& host, const wchar_t* vhdxPath) {
    // This handle keeps the mutex alive after its owner thread has gone, so the library finds it abandoned.
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, kCallMutexName);
    const HANDLE owner = mutex != nullptr ? CreateThread(nullptr, 0, takeAndEnd, mutex, 0, nullptr) : nullptr;
    DWORD ownerWait = WAIT_FAILED;
    if (owner != nullptr) {
        WaitForSingleObject(owner, INFINITE);
        GetExitCodeThread(owner, &ownerWait);
        CloseHandle(owner);
    }
    if (ownerWait != WAIT_OBJECT_0) {
        std::printf("FAIL the owner thread did not take the mutex (%lu)\n", ownerWait);
        return 1;
    }
    std::printf("result %d\n", host.exports().checkExistVHDX(vhdxPath));
    std::printf("again %d\n", host.exports().checkExistVHDX(vhdxPath));
    CloseHandle(mutex);
    return 0;
}

// Characters that best fit would write into a script as a double quote, and one the code page holds.
int quoteLookAlikes(Host& host, const std::wstring& folder) {
    const kvph::tool::Exports& exports = host.exports();
    const wchar_t lookAlikes[] = {L'\uFF02', L'\u02BA', L'\u201C'};
    for (std::size_t i = 0; i < std::size(lookAlikes); ++i) {
        const std::wstring c(1, lookAlikes[i]);
        const std::wstring path = folder + L"\\Quote" + std::to_wstring(i) + L".vhdx";
        const std::wstring label = L"A" + c + L" x";
        std::printf("PH_CreateVHDX %d\n", exports.createVHDX(path.c_str(), label.c_str(), 64, 1));
        std::printf("PH_FormatNTFS %d\n", exports.formatNTFS((L"E" + c + L":").c_str(), label.c_str()));
        std::printf("PH_SetNonHidden %d\n", exports.setNonHidden((L"K" + c + L":").c_str()));
        std::printf("PH_SetHidden %d\n", exports.setHidden((L"K" + c + L":").c_str()));
    }
    return 0;
}

int attach(const kvph::tool::Exports& exports, const wchar_t* vhdxPath, bool compact) {
    return compact ? exports.compactThenAttachVHDX(vhdxPath) : exports.attachVHDX(vhdxPath, 0);
}

struct RacingCall {
    const kvph::tool::Exports* exports;
    const wchar_t* vhdxPath;
    HANDLE start;
    bool compact;
    int result;
};

DWORD WINAPI raceCall(LPVOID parameter) {
    auto* call = static_cast<RacingCall*>(parameter);
    WaitForSingleObject(call->start, INFINITE);
    call->result = attach(*call->exports, call->vhdxPath, call->compact);
    return 0;
}

int attachAndCompactOnTwoThreads(Host& host, const wchar_t* vhdxPath) {
    const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    RacingCall calls[] = {{&host.exports(), vhdxPath, start, false, -1},
                          {&host.exports(), vhdxPath, start, true, -1}};
    HANDLE threads[2] = {};
    for (int i = 0; i < 2; ++i) {
        threads[i] = CreateThread(nullptr, 0, raceCall, &calls[i], 0, nullptr);
    }
    if (start == nullptr || threads[0] == nullptr || threads[1] == nullptr) {
        std::printf("FAIL cannot start the threads (error %lu)\n", GetLastError());
        return 1;
    }
    SetEvent(start);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(start);
    std::printf("attach %d\ncompact %d\n", calls[0].result, calls[1].result);
    return 0;
}

int checkExistAt(const wchar_t* dllPath, const wchar_t* vhdxPath) {
    const HMODULE library = load(dllPath);
    if (library == nullptr) {
        return 1;
    }
    const auto checkExist = reinterpret_cast<decltype(&PH_CheckExistVHDX)>(
        reinterpret_cast<void*>(GetProcAddress(library, "PH_CheckExistVHDX")));
    if (checkExist == nullptr) {
        std::printf("FAIL PH_CheckExistVHDX missing\n");
        return 1;
    }
    std::printf("result %d\n", checkExist(vhdxPath));
    FreeLibrary(library);
    return 0;
}

int printAttributes(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        std::printf("attributes missing\n");
    } else {
        std::printf("attributes 0x%08lx\n", attributes);
    }
    return 0;
}

int setAttributes(const wchar_t* path, const wchar_t* hexAttributes) {
    const DWORD attributes = std::wcstoul(hexAttributes, nullptr, 16);
    std::printf("set %d\n", SetFileAttributesW(path, attributes) ? 1 : 0);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    int status = 2;
    if (command == L"exports" && argc == 3) {
        status = checkExports(argv[2]);
    } else if (command == L"check-exist" && argc == 3) {
        status = throughHost([&](Host& host) { return printResult(host.exports().checkExistVHDX(argv[2])); });
    } else if (command == L"list-fixed" && argc == 2) {
        status = throughHost([](Host& host) { return printResult(host.exports().listFixedPartition()); });
    } else if (command == L"check-exist-at" && argc == 4) {
        status = checkExistAt(argv[2], argv[3]);
    } else if (command == L"attributes" && argc == 3) {
        status = printAttributes(argv[2]);
    } else if (command == L"set-attributes" && argc == 4) {
        status = setAttributes(argv[2], argv[3]);
    } else if (command == L"readonly" && argc == 3) {
        status = throughHost([&](Host& host) { return readOnly(host, argv[2], true); });
    } else if (command == L"readonly-null" && argc == 3) {
        status = throughHost([&](Host& host) { return readOnly(host, argv[2], false); });
    } else if (command == L"letter" && argc == 3) {
        status = throughHost([&](Host& host) { return volumeLetter(host, argv[2]); });
    } else if (command == L"abandoned-lock" && argc == 3) {
        status = throughHost([&](Host& host) { return checkExistAfterAbandonedLock(host, argv[2]); });
    } else if (command == L"quote-look-alikes" && argc == 3) {
        status = throughHost([&](Host& host) { return quoteLookAlikes(host, argv[2]); });
    } else if ((command == L"attach" || command == L"compact") && argc == 3) {
        status = throughHost(
            [&](Host& host) { return printResult(attach(host.exports(), argv[2], command == L"compact")); });
    } else if (command == L"attach-and-compact" && argc == 3) {
        status = throughHost([&](Host& host) { return attachAndCompactOnTwoThreads(host, argv[2]); });
    } else {
        std::printf(
            "usage: wine_host "
            "exports|check-exist|list-fixed|check-exist-at|attributes|set-attributes|readonly|"
            "readonly-null|letter|abandoned-lock|quote-look-alikes|attach|compact|attach-and-compact ...\n");
    }
    std::fflush(stdout);
    return status;
}
