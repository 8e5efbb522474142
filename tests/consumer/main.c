/* A host program built against the installed KvPartitionHelper package. It asks the library for a free
 * drive letter and checks the answer against the drives the system reports, then checks that the DLL it
 * loaded is the one next to it and carries the version the package announced. Prints "ok <check>" or
 * "FAIL <check>: <detail>" per check and exits with 1 when any check failed. */
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include "KvPartitionHelper.h"
#include "free_letter.h"

static int failures = 0;

static void check(const char* name, int ok, const char* detail) {
    if (ok) {
        printf("ok %s (%s)\n", name, detail);
    } else {
        failures++;
        printf("FAIL %s: %s\n", name, detail);
    }
}

/* ASCII view of a wide text for the messages. */
static void narrow(const wchar_t* text, char* out, size_t size) {
    size_t i = 0;
    for (; text[i] != L'\0' && i + 1 < size; ++i) {
        out[i] = text[i] < 0x80 ? (char)text[i] : '?';
    }
    out[i] = '\0';
}

static void checkFreeLetter(void) {
    wchar_t letter[KVPH_TEXT_UNITS];
    char shown[KVPH_TEXT_UNITS];
    char detail[512];
    wmemset(letter, L'#', KVPH_TEXT_UNITS);
    letter[KVPH_TEXT_UNITS - 1] = L'\0';
    const int result = PH_FindUsableLabel(letter);
    narrow(letter, shown, sizeof shown);
    const DWORD drives = GetLogicalDrives();
    snprintf(detail, sizeof detail, "result %d, letter \"%s\", logical drives 0x%08lx", result, shown,
             (unsigned long)drives);
    judgeFreeLetter(result, letter, drives, detail);
}

static void checkLoadedDll(wchar_t* dllPath, DWORD units) {
    wchar_t program[MAX_PATH];
    char detail[2 * MAX_PATH + 16];
    char shownDll[MAX_PATH];
    char shownProgram[MAX_PATH];
    const HMODULE module = GetModuleHandleW(L"KvPartitionHelper.dll");
    const DWORD dllLength = module ? GetModuleFileNameW(module, dllPath, units) : 0;
    const DWORD programLength = GetModuleFileNameW(NULL, program, MAX_PATH);
    dllPath[dllLength < units ? dllLength : 0] = L'\0';
    program[programLength < MAX_PATH ? programLength : 0] = L'\0';
    narrow(dllPath, shownDll, sizeof shownDll);
    narrow(program, shownProgram, sizeof shownProgram);
    snprintf(detail, sizeof detail, "DLL %s, program %s", shownDll, shownProgram);
    const wchar_t* dllSlash = wcsrchr(dllPath, L'\\');
    const wchar_t* programSlash = wcsrchr(program, L'\\');
    const int sameFolder = dllSlash && programSlash && dllSlash - dllPath == programSlash - program &&
                           _wcsnicmp(dllPath, program, (size_t)(dllSlash - dllPath)) == 0;
    check("the DLL loaded is the one next to the program", sameFolder, detail);
}

/* The text of one StringFileInfo value of the 040904B0 block, or an empty text. */
static const wchar_t* versionText(const void* info, const wchar_t* name) {
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\040904B0\\%ls", name);
    void* value = NULL;
    UINT length = 0;
    if (!VerQueryValueW(info, query, &value, &length) || value == NULL || length == 0) {
        return L"";
    }
    return (const wchar_t*)value;
}

static void checkVersionResource(const wchar_t* dllPath) {
    static BYTE info[16384];
    char detail[512];
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(dllPath, &ignored);
    const int read = size > 0 && size <= sizeof info && GetFileVersionInfoW(dllPath, 0, size, info);
    snprintf(detail, sizeof detail, "size %lu, last error %lu", (unsigned long)size,
             (unsigned long)GetLastError());
    check("the DLL has a version resource", read, detail);
    if (!read) {
        return;
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    const int hasFixed = VerQueryValueW(info, L"\\", (void**)&fixed, &length) && fixed != NULL &&
                         length >= sizeof *fixed && fixed->dwSignature == 0xFEEF04BD;
    snprintf(detail, sizeof detail, "%u bytes, signature 0x%08lx", (unsigned)length,
             (unsigned long)(fixed ? fixed->dwSignature : 0));
    check("the version resource has its fixed part", hasFixed, detail);
    if (hasFixed) {
        const DWORD wantedHigh = MAKELONG(PACKAGE_VERSION_MINOR, PACKAGE_VERSION_MAJOR);
        const DWORD wantedLow = MAKELONG(0, PACKAGE_VERSION_PATCH);
        snprintf(detail, sizeof detail, "file %lu.%lu.%lu.%lu, product %lu.%lu.%lu.%lu, type %lu, package %s",
                 (unsigned long)HIWORD(fixed->dwFileVersionMS), (unsigned long)LOWORD(fixed->dwFileVersionMS),
                 (unsigned long)HIWORD(fixed->dwFileVersionLS), (unsigned long)LOWORD(fixed->dwFileVersionLS),
                 (unsigned long)HIWORD(fixed->dwProductVersionMS),
                 (unsigned long)LOWORD(fixed->dwProductVersionMS),
                 (unsigned long)HIWORD(fixed->dwProductVersionLS),
                 (unsigned long)LOWORD(fixed->dwProductVersionLS), (unsigned long)fixed->dwFileType,
                 PACKAGE_VERSION_TEXT);
        check("file and product version are the package's version, file type DLL",
              fixed->dwFileVersionMS == wantedHigh && fixed->dwFileVersionLS == wantedLow &&
                  fixed->dwProductVersionMS == wantedHigh && fixed->dwProductVersionLS == wantedLow &&
                  fixed->dwFileType == VFT_DLL,
              detail);
    }
    static const struct {
        const wchar_t* name;
        const wchar_t* expected; /* NULL: any text that is not empty */
    } kStrings[] = {
        {L"FileVersion", L"" PACKAGE_VERSION_TEXT},
        {L"ProductVersion", L"" PACKAGE_VERSION_TEXT},
        {L"ProductName", L"KvPartitionHelper"},
        {L"OriginalFilename", L"KvPartitionHelper.dll"},
        {L"FileDescription", NULL},
    };
    for (size_t i = 0; i < sizeof kStrings / sizeof kStrings[0]; ++i) {
        const wchar_t* text = versionText(info, kStrings[i].name);
        char name[64];
        char shown[256];
        char label[128];
        narrow(kStrings[i].name, name, sizeof name);
        narrow(text, shown, sizeof shown);
        snprintf(label, sizeof label, "version resource %s", name);
        snprintf(detail, sizeof detail, "\"%s\"", shown);
        check(label, kStrings[i].expected ? wcscmp(text, kStrings[i].expected) == 0 : text[0] != L'\0',
              detail);
    }
}

int main(void) {
    wchar_t dllPath[MAX_PATH];
    checkFreeLetter();
    checkLoadedDll(dllPath, MAX_PATH);
    checkVersionResource(dllPath);
    return failures == 0 ? 0 : 1;
}
