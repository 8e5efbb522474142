// Every export given bad input: null pointers, over-long text, text a diskpart script cannot hold, odd
// path forms, extreme sizes and flags. A refused input runs and writes nothing and logs one line saying
// why; any other input gives a result the export allows and leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "FrameFixture.h"
#include "HostMachine.h"
#include "KvPartitionHelper.h"
#include "per/DriveManager.h"
#include "platform/Platform.h"

namespace kvph::test {
namespace {

using namespace drive;

// How the library treats a text input.
enum class Kind {
    Null,        // refused everywhere
    TooLong,     // refused everywhere
    Unsafe,      // a double quote or control character: refused where the text goes into a script
    NotAnsi,     // no ANSI form: refused as a VHDX path
    Acceptable,  // taken as given
};

struct TextInput {
    const char* name;
    std::optional<std::wstring> text;  // nullopt: a null pointer
    Kind kind;
};

std::vector<TextInput> textInputs() {
    return {
        {"null", std::nullopt, Kind::Null},
        {"empty", L"", Kind::Acceptable},
        {"259 units", std::wstring(259, L'a'), Kind::Acceptable},
        {"260 units", std::wstring(260, L'a'), Kind::TooLong},
        {"200 characters outside the code page", std::wstring(200, L'\u4E2D'), Kind::NotAnsi},
        {"double quote", L"D:\\vd\\a\"b.vhdx", Kind::Unsafe},
        {"script injection", L"D:\\vd\\x.vhdx\"\r\nclean\r\nrem \"", Kind::Unsafe},
        {"highest control character", std::wstring(L"D:\\vd\\a") + L'\x1f' + L"b.vhdx", Kind::Unsafe},
        {"outside the code page", L"D:\\vd\\\u4E2D.vhdx", Kind::NotAnsi},
        // Best fit would turn the first two into a double quote; the third is a character of the code page.
        {"fullwidth quote", L"A\uFF02 x", Kind::NotAnsi},
        {"modifier double prime", L"A\u02BA x", Kind::NotAnsi},
        {"left double quotation mark", L"A\u201C x", Kind::Acceptable},
        {"lone surrogate", std::wstring(L"D:\\vd\\") + static_cast<wchar_t>(0xD800) + L".vhdx",
         Kind::NotAnsi},
        {"E", L"E", Kind::Acceptable},
        {"E colon", L"E:", Kind::Acceptable},
        {"E root", L"E:\\", Kind::Acceptable},
        {"long path prefix", L"\\\\?\\E:\\", Kind::Acceptable},
        {"long path prefix VHDX", L"\\\\?\\D:\\vd\\drive.vhdx", Kind::Acceptable},
        {"UNC", L"\\\\server\\share\\drive.vhdx", Kind::Acceptable},
    };
}

// Where an export puts a text argument.
enum class Use {
    VhdxPath,  // a VHDX path in a script line: unsafe and non-ANSI text are refused
    Script,    // a label or letter in a script line: unsafe text is refused, the rest converted
    Query,     // only compared or looked up
};

struct Case {
    std::string name;
    std::function<int()> call;
    bool refused = false;
    std::optional<int> result;  // the one result the export may give, when there is one
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const wchar_t* pointer(const std::optional<std::wstring>& text) {
    return text ? text->c_str() : nullptr;
}

bool refusedFor(Kind kind, Use use) {
    return kind == Kind::Null || kind == Kind::TooLong || (use != Use::Query && kind == Kind::Unsafe) ||
           (use == Use::VhdxPath && kind == Kind::NotAnsi);
}

std::vector<Case> cases() {
    std::vector<Case> table;
    using TextCall = std::function<int(const wchar_t*)>;
    struct TextParameter {
        const char* name;
        Use use;
        TextCall call;
        std::optional<int> resultForOtherText = std::nullopt;  // when the text names no drive of the machine
    };
    const std::vector<TextParameter> parameters = {
        {"CreateVHDX path", Use::VhdxPath,
         [](const wchar_t* t) { return PH_CreateVHDX(t, L"Label", 1024, 1); }},
        {"CreateVHDX label", Use::Script,
         [](const wchar_t* t) { return PH_CreateVHDX(L"D:\\vd\\other.vhdx", t, 1024, 1); }},
        {"AttachVHDX path", Use::VhdxPath, [](const wchar_t* t) { return PH_AttachVHDX(t, 0); }},
        {"DetachVHDX path", Use::VhdxPath, [](const wchar_t* t) { return PH_DetachVHDX(t, 0); }},
        {"CompactThenAttachVHDX path", Use::VhdxPath,
         [](const wchar_t* t) { return PH_CompactThenAttachVHDX(t); }},
        {"CheckExistVHDX path", Use::Query, [](const wchar_t* t) { return PH_CheckExistVHDX(t); }, 0},
        {"GetVHDXVolumeLabel path", Use::Query,
         [](const wchar_t* t) {
             wchar_t letter[KVPH_TEXT_UNITS] = L"stale";
             const int result = PH_GetVHDXVolumeLabel(t, letter);
             // Without a letter the output is emptied, not left holding what the caller had there.
             return result == 0 && letter[0] != L'\0' ? 2 : result;
         },
         0},
        {"CheckVHDXReadOnly path", Use::Query,
         [](const wchar_t* t) {
             int state = 7;
             const int result = PH_CheckVHDXReadOnly(t, &state);
             // A drive that is not there has an undetermined state; a refusal leaves the state alone.
             return (result == 1 && state != -1) || (result == 0 && state != 7) ? 2 : result;
         },
         1},
        {"FormatNTFS letter", Use::Script, [](const wchar_t* t) { return PH_FormatNTFS(t, L"Fresh"); }},
        {"FormatNTFS label", Use::Script, [](const wchar_t* t) { return PH_FormatNTFS(L"E:", t); }},
        {"SetHidden letter", Use::Query, [](const wchar_t* t) { return PH_SetHidden(t); }},
        {"SetNonHidden letter", Use::Script, [](const wchar_t* t) { return PH_SetNonHidden(t); }},
    };
    for (const TextParameter& parameter : parameters) {
        for (const TextInput& input : textInputs()) {
            Case c;
            c.name = std::string(parameter.name) + ", " + input.name;
            const TextCall call = parameter.call;
            const std::optional<std::wstring> text = input.text;
            c.call = [call, text] { return call(pointer(text)); };
            c.refused = refusedFor(input.kind, parameter.use);
            if (c.refused) {
                c.result = 0;
            } else if (parameter.resultForOtherText) {
                c.result = parameter.resultForOtherText;
            }
            table.push_back(std::move(c));
        }
    }

    table.push_back(
        {"GetVHDXVolumeLabel null output", [] { return PH_GetVHDXVolumeLabel(kVhdx, nullptr); }, true, 0});
    table.push_back(
        {"CheckVHDXReadOnly null output", [] { return PH_CheckVHDXReadOnly(kVhdx, nullptr); }, true, 0});
    table.push_back({"FindUsableLabel null output", [] { return PH_FindUsableLabel(nullptr); }, true, 0});
    table.push_back({"ListFixedPartition", [] { return PH_ListFixedPartition(); }, false, 1});

    for (int number : {INT_MIN, -1, INT_MAX}) {
        table.push_back({"CreateVHDX maximumMB " + std::to_string(number),
                         [number] { return PH_CreateVHDX(L"D:\\vd\\other.vhdx", L"Label", number, 1); },
                         false, std::nullopt});
        table.push_back({"CreateVHDX fixed maximumMB " + std::to_string(number),
                         [number] { return PH_CreateVHDX(L"D:\\vd\\other.vhdx", L"Label", number, 0); },
                         false, std::nullopt});
    }
    for (int flag : {2, -1, INT_MIN}) {
        const std::string suffix = " flag " + std::to_string(flag);
        table.push_back({"CreateVHDX expandable" + suffix,
                         [flag] { return PH_CreateVHDX(L"D:\\vd\\other.vhdx", L"Label", 1024, flag); }, false,
                         std::nullopt});
        table.push_back({"AttachVHDX readOnly" + suffix, [flag] { return PH_AttachVHDX(kVhdx, flag); }, false,
                         std::nullopt});
        table.push_back({"DetachVHDX removeFiles" + suffix,
                         [flag] {
                             PH_AttachVHDX(kVhdx, 0);
                             return PH_DetachVHDX(kVhdx, flag);
                         },
                         false, std::nullopt});
    }
    return table;
}

std::map<std::wstring, std::vector<std::uint8_t>> filesOf(const sim::Machine& machine) {
    std::map<std::wstring, std::vector<std::uint8_t>> files;
    for (const auto& [key, file] : machine.model().files) {
        files[key] = file.content;
    }
    return files;
}

class BadInputTest : public ::testing::TestWithParam<Case> {};

TEST_P(BadInputTest, NoCrashAndRefusalsRunAndWriteNothing) {
    const Case& c = GetParam();
    sim::Machine machine(smallMachine(0x91));
    ScopedPlatform installed{machine};
    PER::DriveManager::ReleaseInstance();
    ASSERT_EQ(PH_CreateVHDX(kVhdx, L"Duskvale", 20480, 1), 1);
    PER::DriveManager::ReleaseInstance();
    machine.clearLog();
    const auto filesBefore = filesOf(machine);
    const std::size_t runsBefore = machine.diskpartRuns().size();

    const int result = c.call();
    PER::DriveManager::ReleaseInstance();

    EXPECT_TRUE(result == 0 || result == 1) << result;
    if (c.result) {
        EXPECT_EQ(result, *c.result);
    }
    EXPECT_EQ(machine.openHandleCount(), 0u);
    EXPECT_FALSE(machine.fileExists(kScriptFile));
    EXPECT_FALSE(machine.fileExists(kBatchFile));
    // A quote the script template did not write would let the text end its argument.
    for (std::size_t run = runsBefore; run < machine.diskpartRuns().size(); ++run) {
        std::istringstream script(machine.diskpartRuns()[run].script);
        for (std::string line; std::getline(script, line);) {
            const auto quotes = std::count(line.begin(), line.end(), '"');
            EXPECT_TRUE(quotes == 0 || quotes == 2) << line;
        }
    }
    if (c.refused) {
        EXPECT_EQ(machine.diskpartRuns().size(), runsBefore);
        EXPECT_TRUE(filesOf(machine) == filesBefore) << "a refused call wrote a file";
        const auto lines = machine.logTexts();
        ASSERT_EQ(lines.size(), 1u) << "a refusal logs exactly one line";
        EXPECT_EQ(lines[0].rfind(L"(KvPartitionHelper)PH_", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BadInputTest, ::testing::ValuesIn(cases()), [](const auto& info) {
    std::string name;
    for (char ch : info.param.name) {
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    }
    return name + "_" + std::to_string(info.index);
});

}  // namespace
}  // namespace kvph::test
