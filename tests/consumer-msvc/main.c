/* A host program built the MSVC way against the installed package: compiled for the MSVC target without
 * a C runtime, linked against KvPartitionHelper.lib. It asks the library for a free drive letter and
 * checks the answer against the drives the system reports, as tests/consumer does. Prints "ok <check>"
 * or "FAIL <check>: <detail>" per check and exits with 1 when any check failed. */
#include "../consumer/free_letter.h"
#include "KvPartitionHelper.h"

/* The few kernel32 calls it makes; without a runtime there is no SDK header either. */
#define KVPH_STD_OUTPUT_HANDLE ((unsigned long)-11)
__declspec(dllimport) unsigned long __stdcall GetLogicalDrives(void);
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);

static int failures = 0;

static void write(const char* text) {
    unsigned long length = 0;
    unsigned long written = 0;
    while (text[length] != '\0') {
        ++length;
    }
    WriteFile(GetStdHandle(KVPH_STD_OUTPUT_HANDLE), text, length, &written, 0);
}

static void check(const char* name, int ok, const char* detail) {
    if (!ok) {
        failures++;
    }
    write(ok ? "ok " : "FAIL ");
    write(name);
    write(ok ? " (" : ": ");
    write(detail);
    write(ok ? ")\n" : "\n");
}

static void checkFreeLetter(void) {
    wchar_t letter[KVPH_TEXT_UNITS];
    static char detail[] = "result ?, letter \"??\"";
    for (int i = 0; i < KVPH_TEXT_UNITS - 1; ++i) {
        letter[i] = L'#';
    }
    letter[KVPH_TEXT_UNITS - 1] = L'\0';
    const int result = PH_FindUsableLabel(letter);
    detail[7] = result == 0 ? '0' : result == 1 ? '1' : '?';
    for (int i = 0; i < 2 && letter[i] != L'\0'; ++i) {
        detail[18 + i] = letter[i] > 0x20 && letter[i] < 0x7f ? (char)letter[i] : '?';
    }
    judgeFreeLetter(result, letter, GetLogicalDrives(), detail);
}

void consumerStart(void) {
    checkFreeLetter();
    ExitProcess(failures == 0 ? 0 : 1);
}
