// Checks the Win32 backend of the seam against the system it runs on (Wine in the tests): each check
// calls backend methods the way the library does and prints "ok <name>" or "FAIL <name>: <detail>".
// It works in C:\probe\ and under HKEY_CURRENT_USER\Software\KvphProbe, which it creates and removes.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "frame/Log.h"
#include "platform/Platform.h"
#include "platform/WinConstants.h"

namespace kvph {
Platform& win32Platform();
}

namespace {

using namespace kvph;
namespace w = kvph::win;

int failures = 0;

std::string narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t unit : text) {
        result += unit == L'\0' ? '|' : (unit < 0x80 ? static_cast<char>(unit) : '?');
    }
    return result;
}

void check(const char* name, bool ok, const std::string& detail = {}) {
    failures += ok ? 0 : 1;
    if (ok) {
        std::printf("ok %s\n", name);
    } else {
        std::printf("FAIL %s: %s\n", name, detail.c_str());
    }
}

bool sameText(const std::wstring& left, const std::wstring& right) {
    return _wcsicmp(left.c_str(), right.c_str()) == 0;
}

bool endsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && sameText(text.substr(text.size() - tail.size()), tail);
}

const std::wstring kFolder = L"C:\\probe\\";

void checkFolders(Platform& os) {
    const auto system = os.getSystemDirectoryW(260);
    check("GetSystemDirectoryW, and none with a buffer too small",
          system && sameText(*system, L"C:\\windows\\system32") && !os.getSystemDirectoryW(5),
          narrow(system.value_or(L"-")));
    const auto module = os.getModuleFileNameW(260);
    check("GetModuleFileNameW names the module holding the backend",
          module && endsWith(*module, L"\\backend_probe.exe"), narrow(module.value_or(L"-")));
    const auto cut = os.getModuleFileNameW(10);
    // Windows cuts the path to 9 units and a terminator; Wine, like Windows XP, to 10 units without one.
    check("GetModuleFileNameW with a buffer too small gives the path cut, without its terminator",
          cut && module && !cut->empty() && cut->size() <= 10 && cut->find(L'\0') == std::wstring::npos &&
              module->compare(0, cut->size(), *cut) == 0,
          narrow(cut.value_or(L"-")) + " (" + std::to_string(cut ? cut->size() : 0) + " units)");
    const auto common = os.shGetSpecialFolderPathW(w::CSIDL_COMMON_APPDATA_, true);
    check("SHGetSpecialFolderPathW common application data", common && sameText(*common, L"C:\\ProgramData"),
          narrow(common.value_or(L"-")));
}

// Writing, reading and deleting a file succeed in the library's own calls, which the Wine tests see end
// to end; here the failures it tells apart, and the attributes the kvph tool reads back.
void checkFiles(Platform& os) {
    const std::wstring made = kFolder + L"made";
    const std::uint32_t hiddenSystem = w::FILE_ATTRIBUTE_HIDDEN_ | w::FILE_ATTRIBUTE_SYSTEM_;
    const bool marked = os.wmkdir(made) == 0 && os.pathFileExistsW(made) && os.wmkdir(made) == -1 &&
                        os.setFileAttributesW(made, hiddenSystem).ok;
    const auto attributes = os.getFileAttributesW(made);
    check(
        "_wmkdir makes a folder and gives -1 when it exists; SetFileAttributesW / GetFileAttributesW "
        "hidden and system",
        marked && attributes && (*attributes & hiddenSystem) == hiddenSystem,
        attributes ? std::to_string(*attributes) : "missing");
    const BoolResult missing = os.deleteFileW(kFolder + L"missing.txt");
    check("DeleteFileW on a missing file fails with ERROR_FILE_NOT_FOUND",
          !missing.ok && missing.error == w::ERROR_FILE_NOT_FOUND_, std::to_string(missing.error));
    const HandleResult nowhere = os.createFileW(kFolder + L"missing\\x.txt", w::GENERIC_WRITE_, 0,
                                                w::CREATE_ALWAYS_, w::FILE_ATTRIBUTE_NORMAL_);
    check("CreateFileW in a missing folder gives INVALID_HANDLE_VALUE and ERROR_PATH_NOT_FOUND",
          nowhere.handle == kInvalidHandle && nowhere.error == w::ERROR_PATH_NOT_FOUND_,
          std::to_string(nowhere.handle) + " " + std::to_string(nowhere.error));
}

void checkSecurity(Platform& os) {
    const std::wstring folderSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const std::wstring folder = kFolder + L"protected";
    const BoolResult made = os.createDirectoryW(folder, folderSddl);
    const BoolResult again = os.createDirectoryW(folder, folderSddl);
    check("CreateDirectoryW with a protected descriptor, then ERROR_ALREADY_EXISTS",
          made.ok && os.pathFileExistsW(folder) && !again.ok && again.error == w::ERROR_ALREADY_EXISTS_,
          std::to_string(made.error) + " " + std::to_string(again.error));
    const BoolResult repaired =
        os.setNamedSecurityInfoW(folder,
                                 w::OWNER_SECURITY_INFORMATION_ | w::DACL_SECURITY_INFORMATION_ |
                                     w::PROTECTED_DACL_SECURITY_INFORMATION_,
                                 folderSddl);
    check("SetNamedSecurityInfoW owner and protected DACL", repaired.ok,
          "error " + std::to_string(repaired.error));
    // Wine accepts descriptors without keeping them on its files, so what it reads back says nothing.
    const std::wstring path = folder + L"\\Command.txt";
    const HandleResult created =
        os.createFileW(path, w::GENERIC_WRITE_, 0, w::CREATE_NEW_, w::FILE_ATTRIBUTE_NORMAL_,
                       L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)");
    const bool opened = created.handle != kNullHandle && created.handle != kInvalidHandle;
    const HandleResult badSddl = os.createFileW(folder + L"\\x.txt", w::GENERIC_WRITE_, 0, w::CREATE_NEW_,
                                                w::FILE_ATTRIBUTE_NORMAL_, L"D:(");
    check("CreateFileW with a protected descriptor, and none with a descriptor that does not parse",
          opened && badSddl.handle == kInvalidHandle && !os.pathFileExistsW(folder + L"\\x.txt"),
          std::to_string(created.error) + " " + std::to_string(badSddl.error));
    os.closeHandle(created.handle);
    os.deleteFileW(path);
    RemoveDirectoryW(folder.c_str());
}

void checkProfiles(Platform& os) {
    const std::wstring file = kFolder + L"Partition.ini";
    const bool written = os.writePrivateProfileStringW(L"0", L"Label Name", L"Duskvale", file).ok &&
                         os.writePrivateProfileStringW(L"Main", L"Count", L"3", file).ok;
    const std::wstring cut = os.getPrivateProfileStringW(L"0", L"Label Name", L"", 4, file);
    check("GetPrivateProfileStringW truncates to the buffer", written && cut == L"Dus", narrow(cut));
    check("GetPrivateProfileStringW and GetPrivateProfileIntW give the default for a missing key",
          os.getPrivateProfileStringW(L"0", L"Letter", L"none", 260, file) == L"none" &&
              os.getPrivateProfileIntW(L"Main", L"Count", -1, file) == 3 &&
              os.getPrivateProfileIntW(L"Main", L"Missing", -1, file) == static_cast<std::uint32_t>(-1));
}

void writeBatch(Platform& os, const std::wstring& path, const std::string& text) {
    const HandleResult file =
        os.createFileW(path, w::GENERIC_WRITE_, 0, w::CREATE_ALWAYS_, w::FILE_ATTRIBUTE_NORMAL_);
    os.writeFile(file.handle, Bytes(text.begin(), text.end()));
    os.closeHandle(file.handle);
}

void checkProcesses(Platform& os) {
    const ProcessOutcome exited = os.createProcessAndWait(L"", L"cmd.exe /c exit 7", w::CREATE_NO_WINDOW_);
    const ProcessOutcome missing =
        os.createProcessAndWait(L"", L"no-such-program-kvph.exe /s x", w::CREATE_NO_WINDOW_);
    check("CreateProcessW, wait and exit code; a missing program is not started",
          exited.stage == ProcessOutcome::Stage::Exited && exited.exitCode == 7 &&
              missing.stage == ProcessOutcome::Stage::NotStarted && missing.error == w::ERROR_FILE_NOT_FOUND_,
          std::to_string(exited.exitCode) + " " + std::to_string(missing.error));

    const std::wstring batch = kFolder + L"probe.bat";
    writeBatch(os, batch, "cd > \"C:\\probe\\cwd.txt\"\r\ncmd /c exit 3\r\n");
    const auto system = os.getSystemDirectoryW(260).value_or(L"C:\\windows\\system32");
    const ProcessOutcome shell = os.shellExecuteAndWait(L"Open", batch, L"", system + L"\\", w::SW_HIDE_);
    const ProcessOutcome absent =
        os.shellExecuteAndWait(L"Open", kFolder + L"absent.bat", L"", system + L"\\", w::SW_HIDE_);
    const HandleResult cwd = os.createFileW(kFolder + L"cwd.txt", w::GENERIC_READ_, w::FILE_SHARE_READ_,
                                            w::OPEN_EXISTING_, w::FILE_ATTRIBUTE_NORMAL_);
    const ReadResult folder = os.readFile(cwd.handle, 260);
    os.closeHandle(cwd.handle);
    const std::string shown(folder.data.begin(), folder.data.end());
    check(
        "ShellExecuteExW of a batch file runs it in the folder given, waits and gives its exit code; a "
        "missing file is not started",
        shell.stage == ProcessOutcome::Stage::Exited && shell.exitCode == 3 &&
            _strnicmp(shown.c_str(), "C:\\windows\\system32", 19) == 0 &&
            absent.stage == ProcessOutcome::Stage::NotStarted,
        std::to_string(shell.exitCode) + " " + shown);
}

void checkMutex(Platform& os) {
    const HandleResult mutex = os.createMutexW(L"Local\\KvphBackendProbe");
    const bool taken = mutex.handle != kNullHandle &&
                       os.waitForSingleObject(mutex.handle, w::INFINITE_) == w::WAIT_OBJECT_0_ &&
                       os.waitForSingleObject(mutex.handle, w::INFINITE_) == w::WAIT_OBJECT_0_;
    const bool released = os.releaseMutex(mutex.handle).ok && os.releaseMutex(mutex.handle).ok;
    const BoolResult extra = os.releaseMutex(mutex.handle);
    check("a mutex taken twice on one thread is released as often, then ERROR_NOT_OWNER; CloseHandle",
          taken && released && !extra.ok && extra.error == 288 && os.closeHandle(mutex.handle).ok,
          std::to_string(extra.error));
}

void checkRegistry(Platform& os) {
    const std::wstring key = L"Software\\KvphProbe\\Policies";
    const auto root = RegistryRoot::CurrentUser;
    const bool absent = !os.regQueryDword(root, key, L"NoDriveTypeAutoRun");
    const bool set = os.regSetDword(root, key, L"NoDriveTypeAutoRun", 0x91).ok &&
                     os.regQueryDword(root, key, L"NoDriveTypeAutoRun") == 0x91u;
    const bool deleted = os.regDeleteValue(root, key, L"NoDriveTypeAutoRun").ok &&
                         !os.regQueryDword(root, key, L"NoDriveTypeAutoRun");
    const BoolResult again = os.regDeleteValue(root, key, L"NoDriveTypeAutoRun");
    check("a DWORD value read in a missing key, set with its key, deleted and read in the key, deleted again",
          absent && set && deleted && !again.ok && again.error == w::ERROR_FILE_NOT_FOUND_,
          std::to_string(absent) + std::to_string(set) + std::to_string(deleted) + " " +
              std::to_string(again.error));
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KvphProbe");
}

void checkText(Platform& os) {
    const auto ansi = os.wideToAnsi(L"select vdisk file=\"C:\\Drives\\Duskvale.vhdx\"", 0);
    check("WideCharToMultiByte without the terminator",
          ansi && *ansi == "select vdisk file=\"C:\\Drives\\Duskvale.vhdx\"");
    check("WideCharToMultiByte of empty text", os.wideToAnsi(L"", 0).value_or("x").empty());
    // The simulated machine's code page 1252 is built on these answers.
    const std::wstring lookAlikes = L"A\uFF02\u02BA\u201C\u0100";
    check("WideCharToMultiByte with best fit writes look-alikes of the double quote as one",
          os.wideToAnsi(lookAlikes, 0) == std::string("A\"\"\x93"
                                                      "A"));
    check("WideCharToMultiByte with WC_NO_BEST_FIT_CHARS writes the default character",
          os.wideToAnsi(lookAlikes, w::WC_NO_BEST_FIT_CHARS_) == std::string("A??\x93?"));
    const std::uint8_t basicData[16] = {0xa2, 0xa0, 0xd0, 0xeb, 0xe5, 0xb9, 0x33, 0x44,
                                        0x87, 0xc0, 0x68, 0xb6, 0xb7, 0x26, 0x99, 0xc7};
    std::uint32_t error = 1;
    const auto text = os.stringFromCLSID(basicData, error);
    check("StringFromCLSID", text && *text == L"{EBD0A0A2-B9E5-4433-87C0-68B6B72699C7}" && error == 0,
          narrow(text.value_or(L"-")));
}

void checkVolumes(Platform& os) {
    const DriveStrings drives = os.getLogicalDriveStringsW(105);
    const DriveStrings small = os.getLogicalDriveStringsW(2);
    check("GetLogicalDriveStringsW lists C:\\, and gives the size needed for a buffer too small",
          drives.result > 0 && drives.result == drives.strings.size() &&
              drives.strings.find(std::wstring(L"C:\\\0", 4)) != std::wstring::npos && small.result > 2 &&
              small.strings.empty(),
          narrow(drives.strings) + " " + std::to_string(small.result));
    check("GetDriveTypeW C:\\ is fixed", os.getDriveTypeW(L"C:\\") == w::DRIVE_FIXED_);
    const VolumeInformation volume = os.getVolumeInformationW(L"C:\\");
    const VolumeInformation noVolume = os.getVolumeInformationW(L":\\");
    check("GetVolumeInformationW C:\\, and a failure without a letter",
          volume.ok && !volume.fileSystemName.empty() && !noVolume.ok && noVolume.error != 0,
          narrow(volume.fileSystemName) + " error " + std::to_string(volume.error));
    const DiskFreeSpace space = os.getDiskFreeSpaceExW(L"C:\\");
    check("GetDiskFreeSpaceExW C:\\",
          space.ok && space.totalBytes > 0 && space.freeBytesAvailableToCaller > 0);
}

// The library maps a partition to its letter by comparing a link's target with what QueryDosDeviceW
// says for each drive; for C: both must name the same device.
void checkSymbolicLinks(Platform& os) {
    const auto device = os.queryDosDeviceW(L"C:", 1024);
    check("ntdll symbolic-link calls found; QueryDosDeviceW C:",
          os.loadSymbolicLinkCalls() && device && !device->empty());
    const NtHandleResult link =
        os.ntOpenSymbolicLinkObject(L"\\??\\C:", w::SYMBOLIC_LINK_QUERY_, w::OBJ_CASE_INSENSITIVE_);
    check("NtOpenSymbolicLinkObject \\??\\C:", link.status == 0 && link.handle != kNullHandle,
          std::to_string(link.status));
    if (link.status != 0) {
        return;
    }
    const NtTextResult target = os.ntQuerySymbolicLinkObject(link.handle, 1024);
    check("NtQuerySymbolicLinkObject gives what QueryDosDeviceW gives",
          target.status == 0 && device && target.text == *device,
          narrow(target.text) + " / " + narrow(device.value_or(L"-")));
    const NtTextResult tooSmall = os.ntQuerySymbolicLinkObject(link.handle, 4);
    check("NtQuerySymbolicLinkObject into a buffer too small; NtClose",
          tooSmall.status == w::STATUS_BUFFER_TOO_SMALL_ && os.ntClose(link.handle) == 0,
          std::to_string(tooSmall.status));
    const NtHandleResult none = os.ntOpenSymbolicLinkObject(
        L"\\Device\\Harddisk97\\Partition9", w::SYMBOLIC_LINK_QUERY_, w::OBJ_CASE_INSENSITIVE_);
    check("NtOpenSymbolicLinkObject of a missing name fails", none.status != 0 && none.handle == kNullHandle);
}

void checkDeviceControl(Platform& os) {
    const IoResult result = os.deviceIoControl(kNullHandle, w::IOCTL_DISK_GET_DRIVE_GEOMETRY_EX_, {}, 56);
    check("DeviceIoControl on no device fails and keeps the zeroed buffer",
          !result.ok && result.error == w::ERROR_INVALID_HANDLE_ && result.output == Bytes(56, 0),
          std::to_string(result.error));
}

// Measured with the performance counter: Wine refreshes the tick count lazily, so a loaded machine can
// show less than the pause in GetTickCount64.
void checkSleep(Platform& os) {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    os.sleep(100);
    QueryPerformanceCounter(&after);
    const double elapsedMs = 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                             static_cast<double>(frequency.QuadPart);
    check("Sleep", elapsedMs >= 95.0, std::to_string(elapsedMs) + " ms");
}

// The log's formatter on the mingw runtime, whose vswprintf reports the length a cut text would have had
// instead of failing. A text far longer than any scratch buffer must give an empty line, not a read past
// the buffer; one that fits the second try is cut to the caller's buffer.
void checkFormatting() {
    const std::wstring longer(100, L'a');
    const std::wstring formatted = kvph::formatBounded(8, L"%ls!", longer.c_str());
    check("formatBounded cuts a text longer than its first try", formatted == L"aaaaaaa", narrow(formatted));
    const std::wstring huge(std::size_t{32} << 20, L'b');
    const std::wstring dropped = kvph::formatBounded(8, L"%ls!", huge.c_str());
    check("formatBounded of a text longer than every try", dropped.empty(),
          std::to_string(dropped.size()) + " units");
}

}  // namespace

int main() {
    Platform& os = kvph::win32Platform();
    os.wmkdir(L"C:\\probe");
    checkFolders(os);
    checkFiles(os);
    checkSecurity(os);
    checkProfiles(os);
    checkProcesses(os);
    checkMutex(os);
    checkRegistry(os);
    checkText(os);
    checkVolumes(os);
    checkSymbolicLinks(os);
    checkDeviceControl(os);
    checkSleep(os);
    checkFormatting();
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
