/* A host program built against the installed KvPartitionHelper package. It asks the library for a free
 * drive letter and checks the answer against the drives the system reports, then that the DLL it loaded
 * carries the version the package announced. Prints "ok <check>" or "FAIL <check>: <detail>" per check
 * and exits with 1 when any check failed. */
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

static void checkVersionResource(void) {
    static BYTE info[16384];
    char detail[512];
    wchar_t dllPath[MAX_PATH] = L"";
    DWORD ignored = 0;
    GetModuleFileNameW(GetModuleHandleW(L"KvPartitionHelper.dll"), dllPath, MAX_PATH - 1);
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
        snprintf(detail, sizeof detail, "file 0x%08lx%08lx, product 0x%08lx%08lx, type %lu, package %s",
                 (unsigned long)fixed->dwFileVersionMS, (unsigned long)fixed->dwFileVersionLS,
                 (unsigned long)fixed->dwProductVersionMS, (unsigned long)fixed->dwProductVersionLS,
                 (unsigned long)fixed->dwFileType, PACKAGE_VERSION_TEXT);
        check("file and product version are the package's version, file type DLL",
              fixed->dwFileVersionMS == wantedHigh && fixed->dwFileVersionLS == wantedLow &&
                  fixed->dwProductVersionMS == wantedHigh && fixed->dwProductVersionLS == wantedLow &&
                  fixed->dwFileType == VFT_DLL,
              detail);
    }
    static const wchar_t* const kStrings[][2] = {
        {L"FileVersion", L"" PACKAGE_VERSION_TEXT},
        {L"ProductVersion", L"" PACKAGE_VERSION_TEXT},
        {L"ProductName", L"KvPartitionHelper"},
        {L"OriginalFilename", L"KvPartitionHelper.dll"},
    };
    for (size_t i = 0; i < sizeof kStrings / sizeof kStrings[0]; ++i) {
        char name[64];
        char wanted[64];
        char label[160];
        narrow(kStrings[i][0], name, sizeof name);
        narrow(kStrings[i][1], wanted, sizeof wanted);
        narrow(versionText(info, kStrings[i][0]), detail, sizeof detail);
        snprintf(label, sizeof label, "version resource %s is \"%s\"", name, wanted);
        check(label, wcscmp(versionText(info, kStrings[i][0]), kStrings[i][1]) == 0, detail);
    }
}

int main(void) {
    checkFreeLetter();
    checkVersionResource();
    return failures == 0 ? 0 : 1;
}
