#include "kvph/machine/TracingPlatform.h"

#include <algorithm>
#include <cstdio>

#include "kvph/base/ToolText.h"
#include "platform/WinConstants.h"

namespace kvph::tool {
namespace {

constexpr std::uint32_t kTruncateExisting = 5;

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::wstring upper(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

std::string shown(const std::wstring& text) {
    return readable(text, "");
}

std::string keyName(RegistryRoot root, const std::wstring& subKey) {
    return std::string(root == RegistryRoot::LocalMachine ? "HKLM\\" : "HKCU\\") + shown(subKey);
}

bool createsFile(std::uint32_t disposition) {
    return disposition == win::CREATE_NEW_ || disposition == win::CREATE_ALWAYS_ ||
           disposition == win::OPEN_ALWAYS_ || disposition == kTruncateExisting;
}

// The file a "diskpart /s FILE" command line runs, without quotes; empty for other command lines.
std::wstring scriptPathOf(const std::wstring& commandLine) {
    const std::wstring line = upper(commandLine);
    const std::size_t program = line.find(L"DISKPART");
    const std::size_t option = line.find(L"/S ", program == std::wstring::npos ? 0 : program);
    if (program == std::wstring::npos || option == std::wstring::npos) {
        return L"";
    }
    std::wstring path = commandLine.substr(option + 3);
    path.erase(0, path.find_first_not_of(L" \""));
    path.erase(path.find_last_not_of(L" \"") + 1);
    return path;
}

std::string processEnd(const ProcessOutcome& outcome) {
    switch (outcome.stage) {
        case ProcessOutcome::Stage::NotStarted:
            return "could not start (error " + std::to_string(outcome.error) + ")";
        case ProcessOutcome::Stage::WaitFailed:
            return "could not be waited for (error " + std::to_string(outcome.error) + ")";
        case ProcessOutcome::Stage::ExitCodeUnreadable:
            return "ended with an unreadable exit code";
        case ProcessOutcome::Stage::Exited:
            break;
    }
    return "exit code " + hex(outcome.exitCode);
}

}  // namespace

std::wstring TracingPlatform::fromAnsi(const std::string& bytes) {
    auto wide = inner_.ansiToWide(bytes);
    return wide ? *wide : std::wstring(bytes.begin(), bytes.end());
}

void TracingPlatform::trackOpen(Handle handle, std::wstring path, std::uint32_t access,
                                std::uint32_t disposition) {
    if (handle == kNullHandle || handle == kInvalidHandle || (access & win::GENERIC_WRITE_) == 0) {
        return;
    }
    openFiles_[handle] = {std::move(path), createsFile(disposition), {}, false};
}

BoolResult TracingPlatform::deleteFileW(const std::wstring& path) {
    const BoolResult result = inner_.deleteFileW(path);
    if (result.ok) {
        report("deleted " + shown(path));
    }
    return result;
}

BoolResult TracingPlatform::moveFileExW(const std::wstring& existing, const std::wstring& replacement,
                                        std::uint32_t flags) {
    const BoolResult result = inner_.moveFileExW(existing, replacement, flags);
    if (result.ok) {
        report("moved " + shown(existing) + " to " + shown(replacement));
    }
    return result;
}

BoolResult TracingPlatform::deleteFileA(const std::string& path) {
    const BoolResult result = inner_.deleteFileA(path);
    if (result.ok) {
        report("deleted " + shown(fromAnsi(path)));
    }
    return result;
}

int TracingPlatform::wmkdir(const std::wstring& path) {
    const int result = inner_.wmkdir(path);
    if (result == 0) {
        report("made folder " + shown(path));
    }
    return result;
}

BoolResult TracingPlatform::removeDirectoryW(const std::wstring& path) {
    const BoolResult result = inner_.removeDirectoryW(path);
    if (result.ok) {
        report("removed folder " + shown(path));
    }
    return result;
}

HandleResult TracingPlatform::createFileW(const std::wstring& path, std::uint32_t desiredAccess,
                                          std::uint32_t shareMode, std::uint32_t creationDisposition,
                                          std::uint32_t flagsAndAttributes,
                                          const std::wstring& securityDescriptor) {
    const HandleResult result = inner_.createFileW(path, desiredAccess, shareMode, creationDisposition,
                                                   flagsAndAttributes, securityDescriptor);
    trackOpen(result.handle, path, desiredAccess, creationDisposition);
    return result;
}

BoolResult TracingPlatform::createDirectoryW(const std::wstring& path,
                                             const std::wstring& securityDescriptor) {
    const BoolResult result = inner_.createDirectoryW(path, securityDescriptor);
    if (result.ok) {
        report("made folder " + shown(path) + " with access " + shown(securityDescriptor));
    }
    return result;
}

BoolResult TracingPlatform::setNamedSecurityInfoW(const std::wstring& path, std::uint32_t securityInformation,
                                                  const std::wstring& securityDescriptor) {
    const BoolResult result = inner_.setNamedSecurityInfoW(path, securityInformation, securityDescriptor);
    if (result.ok) {
        report("set access of " + shown(path) + " to " + shown(securityDescriptor));
    }
    return result;
}

HandleResult TracingPlatform::createFileA(const std::string& path, std::uint32_t desiredAccess,
                                          std::uint32_t shareMode, std::uint32_t creationDisposition,
                                          std::uint32_t flagsAndAttributes) {
    const HandleResult result =
        inner_.createFileA(path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
    trackOpen(result.handle, fromAnsi(path), desiredAccess, creationDisposition);
    return result;
}

WriteResult TracingPlatform::writeFile(Handle file, const Bytes& data) {
    const WriteResult result = inner_.writeFile(file, data);
    const auto open = openFiles_.find(file);
    if (open != openFiles_.end() && result.ok) {
        open->second.written.append(data.begin(),
                                    data.begin() + std::min<std::size_t>(result.bytesWritten, data.size()));
        open->second.wrote = true;
    }
    return result;
}

BoolResult TracingPlatform::closeHandle(Handle handle) {
    const auto open = openFiles_.find(handle);
    if (open != openFiles_.end()) {
        const OpenFile& file = open->second;
        if (file.created || file.wrote) {
            report("wrote " + shown(file.path) + " (" + std::to_string(file.written.size()) + " bytes)");
            lastContent_[upper(file.path)] = file.written;
        }
        openFiles_.erase(open);
    }
    return inner_.closeHandle(handle);
}

BoolResult TracingPlatform::writePrivateProfileStringW(const std::wstring& section, const std::wstring& key,
                                                       const std::wstring& value, const std::wstring& file) {
    const BoolResult result = inner_.writePrivateProfileStringW(section, key, value, file);
    if (result.ok) {
        report("wrote " + shown(file) + " [" + shown(section) + "] " + shown(key) + "=" + shown(value));
    }
    return result;
}

std::string TracingPlatform::scriptOf(const std::wstring& commandLine) const {
    const auto content = lastContent_.find(upper(scriptPathOf(commandLine)));
    return content == lastContent_.end() ? std::string() : content->second;
}

ProcessOutcome TracingPlatform::createProcessAndWait(const std::wstring& applicationName,
                                                     const std::wstring& commandLine,
                                                     std::uint32_t creationFlags) {
    const ProcessOutcome outcome = inner_.createProcessAndWait(applicationName, commandLine, creationFlags);
    std::string event = "ran " + shown(commandLine) + ": " + processEnd(outcome);
    const std::string script = scriptOf(commandLine);
    if (!script.empty()) {
        event += "\n" + readable(fromAnsi(script), "");
    }
    report(event);
    return outcome;
}

ProcessOutcome TracingPlatform::shellExecuteAndWait(const std::wstring& verb, const std::wstring& file,
                                                    const std::wstring& parameters,
                                                    const std::wstring& directory, int showCommand) {
    const ProcessOutcome outcome = inner_.shellExecuteAndWait(verb, file, parameters, directory, showCommand);
    report("ran " + shown(file) + (parameters.empty() ? "" : " " + shown(parameters)) + ": " +
           processEnd(outcome));
    return outcome;
}

BoolResult TracingPlatform::regSetDword(RegistryRoot root, const std::wstring& subKey,
                                        const std::wstring& valueName, std::uint32_t value) {
    const BoolResult result = inner_.regSetDword(root, subKey, valueName, value);
    if (result.ok) {
        report("registry: set " + keyName(root, subKey) + "\\" + shown(valueName) + " = " + hex(value));
    }
    return result;
}

BoolResult TracingPlatform::regDeleteValue(RegistryRoot root, const std::wstring& subKey,
                                           const std::wstring& valueName) {
    const BoolResult result = inner_.regDeleteValue(root, subKey, valueName);
    if (result.ok) {
        report("registry: deleted " + keyName(root, subKey) + "\\" + shown(valueName));
    }
    return result;
}

HandleResult TracingPlatform::regOpenKeyExW(RegistryRoot root, const std::wstring& subKey,
                                            std::uint32_t access) {
    const HandleResult result = inner_.regOpenKeyExW(root, subKey, access);
    if (result.error == 0 && result.handle != kNullHandle) {
        openKeys_[result.handle] = fromUtf8(keyName(root, subKey));
    }
    return result;
}

RegCreateResult TracingPlatform::regCreateKeyExW(RegistryRoot root, const std::wstring& subKey,
                                                 std::uint32_t access) {
    const RegCreateResult result = inner_.regCreateKeyExW(root, subKey, access);
    if (result.status == 0 && result.key != kNullHandle) {
        openKeys_[result.key] = fromUtf8(keyName(root, subKey));
        if (result.created) {
            report("registry: made key " + keyName(root, subKey));
        }
    }
    return result;
}

std::uint32_t TracingPlatform::regSetValueExDword(Handle key, const std::wstring& valueName,
                                                  std::uint32_t value) {
    const std::uint32_t status = inner_.regSetValueExDword(key, valueName, value);
    if (status == 0) {
        report("registry: set " + shown(openKeys_[key]) + "\\" + shown(valueName) + " = " + hex(value));
    }
    return status;
}

std::uint32_t TracingPlatform::regDeleteValueW(Handle key, const std::wstring& valueName) {
    const std::uint32_t status = inner_.regDeleteValueW(key, valueName);
    if (status == 0) {
        report("registry: deleted " + shown(openKeys_[key]) + "\\" + shown(valueName));
    }
    return status;
}

std::uint32_t TracingPlatform::regDeleteKeyExW(RegistryRoot root, const std::wstring& subKey) {
    const std::uint32_t status = inner_.regDeleteKeyExW(root, subKey);
    if (status == 0) {
        report("registry: deleted key " + keyName(root, subKey));
    }
    return status;
}

std::uint32_t TracingPlatform::regCloseKey(Handle key) {
    openKeys_.erase(key);
    return inner_.regCloseKey(key);
}

}  // namespace kvph::tool
