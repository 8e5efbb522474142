/* The verdict on PH_FindUsableLabel's answer that both host programs give: a letter "C:" to "Z:" that is
 * not in use, with every letter above it in use. */
#ifndef KVPH_CONSUMER_FREE_LETTER_H
#define KVPH_CONSUMER_FREE_LETTER_H

#include <stddef.h> /* wchar_t, also in a freestanding compile */

/* Prints "ok <name>" or "FAIL <name>: <detail>"; each program defines it for its own output. */
static void check(const char* name, int ok, const char* detail);

static void judgeFreeLetter(int result, const wchar_t* letter, unsigned long drives, const char* detail) {
    const int wellFormed =
        result == 1 && letter[0] >= L'C' && letter[0] <= L'Z' && letter[1] == L':' && letter[2] == L'\0';
    check("PH_FindUsableLabel returns 1 with a letter \"C:\" to \"Z:\"", wellFormed, detail);
    if (!wellFormed) {
        return;
    }
    const int index = letter[0] - L'A';
    check("the letter is not in use", (drives & (1UL << index)) == 0, detail);
    int aboveInUse = 1;
    for (int above = index + 1; above <= 'Z' - 'A'; ++above) {
        aboveInUse = aboveInUse && (drives & (1UL << above)) != 0;
    }
    check("every letter above it is in use: it is the highest free one", aboveInUse, detail);
}

#endif
