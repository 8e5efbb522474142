#include "kvph/commands/DemoCommand.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

#include "kvph/base/ToolText.h"
#include "kvph/commands/DisksCommand.h"
#include "kvph/commands/InventoryCommands.h"
#include "kvph/commands/LifecycleCommands.h"

namespace kvph::tool {

namespace {

constexpr wchar_t kDrive[] = L"D:\\vd\\drive.vhdx";

struct Step {
    std::string title;  // what the host does, in its words
    std::string call;   // the export call as C would write it
    std::function<CommandResult(Host&)> run;
    int expectedResult = 1;
    std::optional<std::string> expectedOutput;  // when the output value matters
    bool showDisks = false;
    bool showInventory = false;
};

std::vector<Step> lifeOfTheDrive() {
    const std::wstring path = kDrive;
    const auto call = [path](CommandResult (*command)(Host&, const std::vector<std::wstring>&),
                             std::vector<std::wstring> more) {
        return [path, command, more](Host& host) {
            std::vector<std::wstring> arguments = {path};
            arguments.insert(arguments.end(), more.begin(), more.end());
            return command(host, arguments);
        };
    };
    const std::string quoted = "L\"D:\\\\vd\\\\drive.vhdx\"";
    return {
        {"The host lists the fixed partitions", "PH_ListFixedPartition()",
         [](Host& host) { return listInventory(host, {}); }, 1, std::nullopt, false, true},
        {"It creates its VHDX drive, labelled Duskvale, of at most 20480 MB",
         "PH_CreateVHDX(" + quoted + ", L\"Duskvale\", 20480, 1)",
         call(createDrive, {L"Duskvale", L"20480", L"--expandable"}), 1, std::nullopt},
        {"It attaches the drive", "PH_AttachVHDX(" + quoted + ", 0)", call(attachDrive, {}), 1, std::nullopt,
         true, true},
        {"It asks for the drive's letter", "PH_GetVHDXVolumeLabel(" + quoted + ", letter)",
         call(vhdxLetter, {}), 1, std::nullopt},
        {"It asks whether the drive is read-only", "PH_CheckVHDXReadOnly(" + quoted + ", &state)",
         call(vhdxReadOnly, {}), 1, "0"},
        {"It detaches the drive, keeping its file", "PH_DetachVHDX(" + quoted + ", 0)", call(detachDrive, {}),
         1, std::nullopt},
        {"It attaches the drive read-only", "PH_AttachVHDX(" + quoted + ", 1)",
         call(attachDrive, {L"--read-only"}), 1, std::nullopt},
        {"It asks whether the drive is read-only", "PH_CheckVHDXReadOnly(" + quoted + ", &state)",
         call(vhdxReadOnly, {}), 1, "1"},
        {"It compacts the drive and attaches it again", "PH_CompactThenAttachVHDX(" + quoted + ")",
         call(compactDrive, {}), 1, std::nullopt},
        {"It detaches the drive and removes it", "PH_DetachVHDX(" + quoted + ", 1)",
         call(detachDrive, {L"--remove"}), 1, std::nullopt, true, true},
    };
}

// ANSI styles, used only when the output is a terminal.
struct Style {
    bool on = colourOutput();
    std::string operator()(const char* code, const std::string& text) const {
        return on ? "\x1b[" + std::string(code) + "m" + text + "\x1b[0m" : text;
    }
    std::string bold(const std::string& text) const { return (*this)("1", text); }
    std::string dim(const std::string& text) const { return (*this)("2", text); }
    std::string good(const std::string& text) const { return (*this)("32", text); }
    std::string bad(const std::string& text) const { return (*this)("1;31", text); }
};

std::string indented(const std::string& text, const std::string& indent) {
    std::string out = indent;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '\n' && i + 1 < text.size()) {
            out += indent;
        }
    }
    return out;
}

std::string section(const Style& style, const std::string& title, const std::string& body) {
    std::string text = body;
    if (!text.empty() && text.front() == '\n') {
        text.erase(0, 1);
    }
    return "\n" + style.bold(title) + "\n" + indented(text, "  ") +
           (text.empty() || text.back() == '\n' ? "" : "\n");
}

// A log line on one line of the terminal; --json keeps it whole.
std::string logLine(const std::wstring& line) {
    constexpr std::size_t kWidth = 92;
    const std::wstring text = fromUtf8(escaped(line));
    return text.size() <= kWidth ? toUtf8(text) : toUtf8(text.substr(0, kWidth - 4)) + " ...";
}

std::string inventoryText(Host& host) {
    return showInventory(host).output.value_or("");
}

std::string hexCode(unsigned code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", code);
    return text;
}

bool asExpected(const Step& step, const CommandResult& outcome) {
    return outcome.result == step.expectedResult &&
           (!step.expectedOutput || outcome.output == step.expectedOutput);
}

}  // namespace

CommandResult runDemo(Host& givenHost, const std::vector<std::wstring>&) {
#ifdef _WIN32
    // kvph.exe drives the real DLL unless it was given a machine file, and the demo must not change the
    // real machine: it always lives on the built-in simulated one there.
    static_cast<void>(givenHost);
    std::string error;
    const std::unique_ptr<Host> builtIn = makeSimulatedHost("", error);
    if (!builtIn) {
        return {0, "the built-in machine could not be made: " + error + "\n", nullptr};
    }
    Host& host = *builtIn;
#else
    Host& host = givenHost;
#endif
    const Style style;
    std::ostringstream out;
    out << style.bold("The VHDX drive's life on the built-in machine") << "\n"
        << "A host service keeps one VHDX drive, D:\\vd\\drive.vhdx, through the library's exports. Each "
           "step\n"
        << "shows the call, its result, the diskpart scripts it ran and the library's log lines.\n";
    out << section(style, "The disks before", disksPicture());

    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    int unexpected = 0;
    const std::vector<Step> life = lifeOfTheDrive();
    for (std::size_t i = 0; i < life.size(); ++i) {
        const Step& step = life[i];
        const CommandResult outcome = step.run(host);
        const std::vector<std::wstring> log = host.takeLog();
        std::vector<DiskpartRunRecord> runs;
        host.takeDiskpartRuns(runs);
        const bool expected = asExpected(step, outcome);
        unexpected += expected ? 0 : 1;

        out << "\n" << style.bold(std::to_string(i + 1) + ". " + step.title) << "\n";
        out << "   " << step.call << " = " << outcome.result;
        if (outcome.output && !step.showInventory) {
            out << ", output " << (outcome.output->empty() ? "\"\"" : *outcome.output);
        }
        out << "   " << (expected ? style.good("as expected") : style.bad("NOT AS EXPECTED")) << "\n";
        for (std::size_t r = 0; r < runs.size(); ++r) {
            out << "   diskpart run " << r + 1 << ", exit code " << hexCode(runs[r].exitCode) << ":\n"
                << style.dim(indented(readable(fromUtf8(runs[r].script), ""), "       ")) << "\n";
        }
        out << "   log:" << (log.empty() ? " (none)" : "") << "\n";
        for (const std::wstring& line : log) {
            out << "     " << logLine(line) << "\n";
        }
        if (step.showDisks) {
            out << section(style, "The disks now", disksPicture());
        }
        if (step.showInventory) {
            out << section(style, "Partition.ini now", inventoryText(host));
        }

        nlohmann::ordered_json record = {
            {"step", i + 1},
            {"call", step.call},
            {"result", outcome.result},
            {"expected", step.expectedResult},
            {"output", outcome.output ? nlohmann::ordered_json(*outcome.output) : nullptr},
            {"asExpected", expected},
            {"log", nlohmann::ordered_json::array()},
            {"diskpart", nlohmann::ordered_json::array()}};
        for (const std::wstring& line : log) {
            record["log"].push_back(toUtf8(line));
        }
        for (const DiskpartRunRecord& run : runs) {
            record["diskpart"].push_back({{"script", run.script}, {"exitCode", run.exitCode}});
        }
        steps.push_back(record);
    }
    out << "\n"
        << (unexpected == 0
                ? style.good("Every step gave what the host expects.")
                : style.bad(std::to_string(unexpected) + " step(s) did not give what the host expects."))
        << "\n";
    return {unexpected == 0 ? 1 : 0, out.str(), {{"steps", steps}}};
}

}  // namespace kvph::tool
