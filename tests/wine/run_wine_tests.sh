#!/usr/bin/env bash
# Runs the real KvPartitionHelper.dll, kvph.exe and the installed package under Wine in a private prefix,
# with a stand-in diskpart.exe in the system folder.
#   tests/wine/run_wine_tests.sh [mingw build folder]   (default build/mingw, configured and built here)
# Ends with "N passed, M failed"; exits non-zero when anything failed.
set -u

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$(realpath -m "${1:-$ROOT/build/mingw}")
WINE=${WINE:-wine}
OBJDUMP=${OBJDUMP:-x86_64-w64-mingw32-objdump}
READOBJ=${READOBJ:-llvm-readobj}
PDBUTIL=${PDBUTIL:-llvm-pdbutil}

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; shift; for detail in "$@"; do echo "     $detail"; done; }
finish() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
    exit $?
}

if [ ! -f "$BUILD/build.ninja" ]; then
    mkdir -p "$BUILD"
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=Release >"$BUILD/wine-tests-configure.log" 2>&1 \
        || { fail "configure the mingw build" "see $BUILD/wine-tests-configure.log"; finish; }
fi
if ! ninja -C "$BUILD" -j2 KvPartitionHelper KvPartitionHelper_msvc_import_library wine_host stand_in_diskpart backend_probe >"$BUILD/wine-tests-build.log" 2>&1; then
    fail "build the DLL and the Wine test programs" "see $BUILD/wine-tests-build.log"
    finish
fi
DLL=$BUILD/KvPartitionHelper.dll
KVPH_BUILT=yes
ninja -C "$BUILD" -j2 kvph >>"$BUILD/wine-tests-build.log" 2>&1 || KVPH_BUILT=no
# Fails the check named $1 when kvph.exe did not build; else puts it and the DLL in C:\tool.
kvph_built() {
    [ "$KVPH_BUILT" = yes ] || { fail "$1" "see $BUILD/wine-tests-build.log"; return 1; }
    cp "$BUILD/kvph.exe" "$DLL" "$TOOL/"
}

# The private prefix: headless, quiet, without the Mono and Gecko installers.
export WINEPREFIX=$BUILD/wine-prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
WINE_ERRORS=$BUILD/wine-tests-stderr.log
: >"$WINE_ERRORS"
if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
    "$WINE" wineboot --init >>"$WINE_ERRORS" 2>&1 || { fail "create the Wine prefix" "see $WINE_ERRORS"; finish; }
fi
wineserver -p 2>>"$WINE_ERRORS"

DRIVE_C=$WINEPREFIX/drive_c
HARNESS=$DRIVE_C/kvph
TOOL=$DRIVE_C/tool
STAND_IN=$DRIVE_C/stand-in
DATA_DIR=$DRIVE_C/ProgramData/Norvel/Quillmark
rm -rf "$HARNESS" "$STAND_IN" "$TOOL"
mkdir -p "$HARNESS" "$STAND_IN" "$TOOL"
cp "$DLL" "$BUILD/tests/wine/wine_host.exe" "$BUILD/tests/wine/backend_probe.exe" "$HARNESS/"
cp "$BUILD/tests/wine/diskpart.exe" "$DRIVE_C/windows/system32/diskpart.exe"

VHDX='C:\Drives\Duskvale.vhdx'
ATTACHED_LISTING=$'  VDisk ###  Disk ###  State                 Type       File\r
  ---------  --------  --------------------  ---------  ----\r
  VDisk 0    Disk 2    Attached not open     Expandable  C:\\Drives\\Duskvale.vhdx\r
'
ADDED_LISTING=$'  VDisk ###  Disk ###  State                 Type       File\r
  ---------  --------  --------------------  ---------  ----\r
  VDisk 0    Disk ---  Added                 Unknown     C:\\Drives\\Duskvale.vhdx\r
  VDisk 1    Disk 3    Attached not open     Expandable  C:\\Drives\\Other.vhdx\r
'
# diskpart in a display language no rule knows: invented words, the disk field moved right by a wider first
# column; only the number under the second group of dashes says that the first VHDX is attached.
OTHER_WORDS_LISTING=$'  Жбукотан ###  Ыпро ###  Ълеф                  Щип        Фэл\r
  ------------  --------  --------------------  ---------  ----\r
  Жбукотан 0    Ыпро 2    Юмба шон              Эсквер      C:\\Drives\\Duskvale.vhdx\r
  Жбукотан 1    Ыпро ---  Прыг                  Нэзн        C:\\Drives\\Other.vhdx\r
'
AUTORUN_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\Explorer'

# Sets what the stand-in diskpart prints, how it exits and how long it takes, and forgets earlier runs.
stand_in() {
    printf '%s' "$1" >"$STAND_IN/vdisks.txt"
    echo "$2" >"$STAND_IN/exitcode.txt"
    echo "${3:-0}" >"$STAND_IN/delay-ms.txt"
    rm -f "$STAND_IN/runs.log"
}
runs_log() { tr -d '\r' 2>/dev/null <"$STAND_IN/runs.log"; }
run_count() { runs_log | grep -c '^RUN '; }

# Runs a Windows program; prints its output without CRs and returns its exit status.
win() {
    local output status
    output=$("$WINE" "$@" 2>>"$WINE_ERRORS")
    status=$?
    tr -d '\r' <<<"$output"
    return $status
}
host() { win 'C:\kvph\wine_host.exe' "$@"; }
tool() { win 'C:\tool\kvph.exe' --json "$@"; }
result_of() { sed -n 's/^result //p' <<<"$1"; }
has_log_line() { grep -qxF "log $2" <<<"$1"; }
attributes_of() { host attributes "$1" | sed -n 's/^attributes //p'; }
autorun_now() { "$WINE" reg query "$AUTORUN_KEY" /v NoDriveTypeAutoRun 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_DWORD[[:space:]]*//p'; }
autorun_key_exists() { "$WINE" reg query "$AUTORUN_KEY" >/dev/null 2>&1; }
autorun_set() { "$WINE" reg add "$AUTORUN_KEY" /v NoDriveTypeAutoRun /t REG_DWORD /d "$1" /f >/dev/null 2>&1; }

# The GUID of a binary's CodeView record ("(88 0F 6F 83 2E 74 ...)") written as a PDB shows its own.
codeview_guid() {
    sed -n 's/^[[:space:]]*PDBGUID: (\(.*\))$/\1/p' | awk '{
        printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}\n", $4, $3, $2, $1, $6, $5, $8, $7, $9, $10, $11, $12, $13, $14, $15, $16 }'
}

# The DLL and kvph.exe carry their runtimes, so they import only DLLs every Windows has; they ship as a
# Windows debugger needs and a loader enforces: no DWARF left, a CodeView record naming only the PDB beside
# them, which has the same GUID and age and the exports' symbols, and ASLR (high-entropy too) and NX on.
test_binaries() {
    local binary pdb imports foreign record summary guid flag problems
    for binary in "$DLL" "$BUILD/kvph.exe"; do
        pdb=${binary%.*}.pdb
        problems=()
        imports=$("$OBJDUMP" -p "$binary" 2>&1 | sed -n 's/^[[:space:]]*DLL Name: //p')
        foreign=$(grep -viE '^(kernel32|advapi32|user32|gdi32|shell32|shlwapi|ole32|oleaut32|msvcrt|ucrtbase|ntdll|api-ms-win-[a-z0-9-]+)\.dll$' <<<"$imports")
        [ -n "$imports" ] && [ -z "$foreign" ] || problems+=("imports other than system DLLs: $(tr '\n' ' ' <<<"$foreign")")
        "$OBJDUMP" -h "$binary" | grep -q '[[:space:]]\.debug_' && problems+=("debug sections left in the binary")
        record=$("$READOBJ" --coff-debug-directory "$binary" 2>&1)
        [ "$(sed -n 's/^[[:space:]]*PDBFileName: //p' <<<"$record")" = "$(basename "$pdb")" ] \
            || problems+=("the CodeView record does not name $(basename "$pdb") alone: $(grep -E 'Type|PDBFileName' <<<"$record" | tr -s ' ')")
        summary=$("$PDBUTIL" dump -summary "$pdb" 2>&1)
        guid=$(sed -n 's/^[[:space:]]*GUID: //p' <<<"$summary")
        [ -n "$guid" ] && [ "$guid" = "$(codeview_guid <<<"$record")" ] \
            && [ "$(sed -n 's/^[[:space:]]*Age: //p' <<<"$summary")" = "$(sed -n 's/^[[:space:]]*PDBAge: //p' <<<"$record")" ] \
            || problems+=("$(basename "$pdb") does not match the record: $(tr -s ' \n' ' ' <<<"$summary" | head -c 300)")
        "$PDBUTIL" dump -publics "$pdb" 2>/dev/null | grep -q '`PH_FindUsableLabel`' \
            || problems+=("$(basename "$pdb") has no public symbol PH_FindUsableLabel")
        for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
            "$READOBJ" --file-headers "$binary" | grep -q "IMAGE_DLL_CHARACTERISTICS_$flag " || problems+=("$flag is off")
        done
        [ ${#problems[@]} -eq 0 ] \
            && pass "$(basename "$binary"): imports only $(tr '\n' ' ' <<<"$imports"); no debug sections, its PDB named by the CodeView record, ASLR, high-entropy ASLR and NX on" \
            || fail "$(basename "$binary") imports system DLLs only and ships with its PDB" "${problems[@]}"
    done
}

test_exports_resolve_under_wine() {
    local output
    output=$(host exports 'C:\kvph\KvPartitionHelper.dll') && [ "$(grep -c '^ok ' <<<"$output")" -eq 12 ] \
        && ! grep -q '^FAIL' <<<"$output" \
        && pass "Wine's loader resolves the twelve exports by name and by ordinal (1-10, 21, 22), and no other ordinal" \
        || fail "exports resolve under Wine" "$output"
}

# PH_CheckExistVHDX of PATH with the stand-in printing LISTING and exiting with CODE gives RESULT and
# logs each LINE:  check_exist_gives NAME LISTING CODE PATH RESULT [LINE...]
check_exist_gives() {
    local name=$1 listing=$2 code=$3 path=$4 result=$5 output line missing=()
    shift 5
    stand_in "$listing" "$code"
    output=$(host check-exist "$path")
    for line in "$@"; do
        has_log_line "$output" "$line" || missing+=("$line")
    done
    [ "$(result_of "$output")" = "$result" ] && [ ${#missing[@]} -eq 0 ] && pass "$name" || fail "$name" "$output"
}

test_check_exist() {
    check_exist_gives "attached VHDX: PH_CheckExistVHDX returns 1" "$ATTACHED_LISTING" 0 "$VHDX" 1 \
        '(KvPartitionHelper)diskpart list vdisk successfully.'
    # What that query ran and left behind.
    local runs problems=() attributes
    runs=$(runs_log)
    [ "$(grep -c '^RUN ' <<<"$runs")" -eq 1 ] \
        && grep -qF 'COMMAND diskpart /s "C:\ProgramData\Norvel\Quillmark\Command.txt"' <<<"$runs" \
        && [ "$(sed -n '/^SCRIPT-BEGIN$/,/^SCRIPT-END$/p' <<<"$runs")" = $'SCRIPT-BEGIN\nlist vdisk\nexit\nSCRIPT-END' ] \
        || problems+=("not one run of the batch file on Command.txt holding list vdisk, exit: $runs")
    cmp -s "$HARNESS/result.txt" <(printf '%s' "$ATTACHED_LISTING") \
        || problems+=("result.txt: $(od -c "$HARNESS/result.txt" 2>&1 | head -5)")
    [ -e "$DATA_DIR/Command.txt" ] && problems+=("Command.txt is still in the data directory")
    [ -e "$HARNESS/temp.bat" ] && problems+=("temp.bat is still next to the DLL")
    attributes=$(attributes_of 'C:\kvph\result.txt')
    [ "$attributes" != missing ] && [ $((attributes & 0x6)) -eq 6 ] || problems+=("result.txt attributes: $attributes")
    [ ${#problems[@]} -eq 0 ] \
        && pass "diskpart ran once through the batch file on Command.txt (list vdisk, exit); result.txt holds its output, hidden+system; Command.txt and temp.bat gone" \
        || fail "what the query ran and left" "${problems[@]}"

    check_exist_gives "the path is matched without regard to case" "$ATTACHED_LISTING" 0 'c:\DRIVES\duskvale.VHDX' 1
    check_exist_gives "VHDX listed but not attached (while another is): 0" "$ADDED_LISTING" 0 "$VHDX" 0 \
        '(KvPartitionHelper)diskpart list vdisk successfully.'
    check_exist_gives "diskpart exit code 2: 0, with the error line captured from the debug output" \
        "$ATTACHED_LISTING" 2 "$VHDX" 0 '(KvPartitionHelper)Create process OK.\r\n' \
        '(KvPartitionHelper)diskpart error because of 0x00000002.'
    check_exist_gives "attached VHDX listed in words no rule knows: 1" "$OTHER_WORDS_LISTING" 0 "$VHDX" 1
    check_exist_gives "VHDX listed without a disk in words no rule knows: 0" "$OTHER_WORDS_LISTING" 0 \
        'C:\Drives\Other.vhdx' 0
}

# A DLL loaded from another folder than the program's keeps its files in its own folder, also when the
# folder's name holds '%', which cmd expands in batch files.
test_library_folder_is_the_dlls_own() {
    local folder output
    for folder in other '100% Host'; do
        rm -rf "${DRIVE_C:?}/$folder" "$HARNESS/result.txt"
        mkdir -p "$DRIVE_C/$folder"
        cp "$DLL" "$DRIVE_C/$folder/"
        stand_in "$ATTACHED_LISTING" 0
        output=$(host check-exist-at "C:\\$folder\\KvPartitionHelper.dll" "$VHDX")
        [ "$(result_of "$output")" = 1 ] && [ ! -e "$HARNESS/result.txt" ] \
            && cmp -s "$DRIVE_C/$folder/result.txt" <(printf '%s' "$ATTACHED_LISTING") \
            && pass "the DLL loaded from C:\\$folder finds the VHDX and keeps diskpart's listing in its own result.txt" \
            || fail "library folder C:\\$folder" "$output" "$(ls -a "$DRIVE_C/$folder" "$HARNESS")"
        rm -rf "${DRIVE_C:?}/$folder"
    done
}

# Wine shows the library no physical drives, so the inventory is empty. A leftover one, hidden, read-only
# and full of junk, is replaced whole: the listing writes its file beside it through the private-profile
# calls, moves it over the old one and makes it hidden and system (Wine keeps the archive bit).
test_listing_replaces_a_leftover_inventory() {
    printf '[7]\r\nLabel Name=Junk\r\n[Main]\r\nCount=9\r\n%s\r\n' "$(head -c 3000 /dev/zero | tr '\0' 'j')" \
        >"$HARNESS/Partition.ini"
    printf '[9]\r\nLabel Name=Killed\r\n' >"$HARNESS/Partition.ini.tmp"
    local set attributes output after
    set=$(host set-attributes 'C:\kvph\Partition.ini' 3)
    attributes=$(attributes_of 'C:\kvph\Partition.ini')
    output=$(host list-fixed)
    after=$(attributes_of 'C:\kvph\Partition.ini')
    [ "$set" = "set 1" ] && [ "$attributes" != missing ] && [ $((attributes & 3)) -eq 3 ] \
        && [ "$(result_of "$output")" = 1 ] && cmp -s "$HARNESS/Partition.ini" <(printf '[Main]\r\nCount=0\r\n') \
        && [ "$after" != missing ] && [ $((after & 0x7)) -eq 6 ] && [ ! -e "$HARNESS/Partition.ini.tmp" ] \
        && pass "a hidden read-only Partition.ini full of junk is replaced by exactly [Main] Count=0, hidden+system" \
        || fail "leftover Partition.ini replaced" "set-attributes: $set, attributes before: $attributes after: $after" \
            "$output" "$(od -c "$HARNESS/Partition.ini" 2>&1 | head -5)"
}

# Wine shows no physical drives, so with the VHDX attached no section of the inventory matches it. Listed
# in English or in other words, the queries go past the listing and rebuild the leftover inventory. With
# a null state pointer the read-only query gives 0 before it starts diskpart.
test_volume_queries() {
    local listing words query name result answer runs output
    for listing in "$ATTACHED_LISTING" "$OTHER_WORDS_LISTING"; do
        [ "$listing" = "$ATTACHED_LISTING" ] && words=English || words="other words"
        for query in 'readonly|result 1|state -1|1' 'letter|result 0|output |1' 'readonly-null|result 0|result 0|0'; do
            IFS='|' read -r name result answer runs <<<"$query"
            printf '[0]\r\nLetter=C:\r\nLabel Name=Duskvale\r\n[Main]\r\nCount=1\r\n' >"$HARNESS/Partition.ini"
            stand_in "$listing" 0
            output=$(host "$name" "$VHDX")
            grep -qx "$result" <<<"$output" && grep -qx "$answer" <<<"$output" && ! grep -q '^log Halloway' <<<"$output" \
                && [ "$(run_count)" = "$runs" ] \
                && { [ "$runs" = 0 ] || cmp -s "$HARNESS/Partition.ini" <(printf '[Main]\r\nCount=0\r\n'); } \
                && pass "$name of the attached VHDX listed in $words: $result, $answer, $runs diskpart runs" \
                || fail "$name without a matching section, listed in $words" "$output"
        done
    done
}

# A caller that died holding the call mutex leaves it abandoned; the next call takes it over.
test_abandoned_call_lock() {
    stand_in "$ATTACHED_LISTING" 0
    local output
    output=$(host abandoned-lock "$VHDX")
    [ "$(result_of "$output")" = 1 ] && [ "$(sed -n 's/^again //p' <<<"$output")" = 1 ] \
        && ! grep -q 'call lock' <<<"$output" && [ "$(run_count)" = 2 ] \
        && pass "an abandoned call mutex is taken over: both calls after it return 1" \
        || fail "abandoned call mutex taken over" "$output"
}

# Labels and letters holding U+FF02, U+02BA or U+201C: best fit would write the first two as a double
# quote. Every script line diskpart is given holds no double quote or the two its template wrote. Wine
# shows no physical drives, so only the creation (with its detach) runs diskpart; formatting, hiding and
# showing find no disk and give 0.
test_quote_look_alikes_stay_out_of_scripts() {
    local output runs stray
    rm -rf "$DRIVE_C/Quotes" "$HARNESS/MaxSize.ini"
    mkdir -p "$DRIVE_C/Quotes"
    stand_in "" 0
    output=$(host quote-look-alikes 'C:\Quotes')
    runs=$(runs_log)
    stray=$(sed -n '/^SCRIPT-BEGIN$/,/^SCRIPT-END$/p' <<<"$runs" | LC_ALL=C awk -F'"' 'NF != 1 && NF != 3')
    [ "$(grep -c '^PH_CreateVHDX 1$' <<<"$output")" = 3 ] && [ "$(grep -c '^PH_[A-Za-z]* 0$' <<<"$output")" = 9 ] \
        && [ "$(grep -c '^RUN ' <<<"$runs")" = 6 ] && [ "$(grep -c '^create vdisk file=' <<<"$runs")" = 3 ] \
        && [ -z "$stray" ] && [ "$(grep -cxF 'format quick fs=ntfs label="A? x"' <<<"$runs")" = 2 ] \
        && LC_ALL=C grep -qxF "format quick fs=ntfs label=\"A$(printf '\223') x\"" <<<"$runs" \
        && pass "labels and letters holding U+FF02, U+02BA, U+201C: no script line carries a stray double quote; without disks format, hide and unhide give 0" \
        || fail "quote look-alikes in labels and letters" "$output" "stray lines: $stray" "$runs"
    rm -rf "$DRIVE_C/Quotes" "$HARNESS/MaxSize.ini"
}

# kvph.exe as shipped loads the DLL from its own folder and shows each command's echo, result and the
# DLL's own log lines, captured in-process; the DLL's files land next to it.
test_kvph_tool() {
    kvph_built "kvph.exe builds" || return
    stand_in "$ATTACHED_LISTING" 0
    local output letter
    output=$(win 'C:\tool\kvph.exe' list -- exists "$VHDX" -- free-letter)
    letter=$(sed -n '/^> free-letter$/,/^> /{s/^output: //p}' <<<"$output")
    grep -qxF '> list' <<<"$output" && grep -qxF "> exists $VHDX" <<<"$output" \
        && grep -qF '  (KvPartitionHelper)diskpart list vdisk successfully.' <<<"$output" \
        && [ "$(grep -cxF 'result: 1' <<<"$output")" -eq 3 ] && [[ "$letter" =~ ^[D-Z]:$ ]] \
        && [ -f "$TOOL/result.txt" ] && [ -f "$TOOL/Partition.ini" ] \
        && pass "kvph.exe list -- exists PATH -- free-letter: results 1, the DLL's log lines, letter $letter, its files next to the tool" \
        || fail "kvph.exe under Wine" "$output"
}

# kvph.exe capture reads the machine through the Win32 backend and writes a description that kvph.exe
# --machine then rehearses on, without loading the DLL.
test_kvph_capture() {
    kvph_built "kvph.exe builds" || return
    rm -f "$TOOL/captured.json"
    local captured rehearsed
    captured=$(tool capture 'C:\tool\captured.json')
    rehearsed=$("$WINE" 'C:\tool\kvph.exe' --machine 'C:\tool\captured.json' --json list 2>&1 | tr -d '\r')
    grep -qF '"result":1' <<<"$captured" && grep -qF '"disks"' "$TOOL/captured.json" \
        && grep -qF '"command":"list"' <<<"$rehearsed" && grep -qF '"diskpart":[' <<<"$rehearsed" \
        && pass "kvph.exe capture writes this machine; kvph.exe --machine rehearses list on the copy" \
        || fail "kvph.exe capture and --machine under Wine" "$captured" "$rehearsed" "$(head -c 2000 "$TOOL/captured.json" 2>&1)"
}

# What `kvph.exe check` must leave as it found it: the folder it runs from, the data directory with
# UserData.ini, the AutoRun policy and the temporary folders.
machine_state() {
    (cd "$1" && find . -type f -exec md5sum {} + | sort)
    (cd "$DATA_DIR" && find . -exec stat -c '%n %s' {} + | sort)
    md5sum "$DATA_DIR/UserData.ini" 2>&1
    echo "autorun $(autorun_now) key $(autorun_key_exists && echo yes || echo no)"
    find "$DRIVE_C/users" -name 'kvph-check-*' 2>/dev/null
}

# kvph.exe check from a folder of its own against the stand-in diskpart, which makes no drive: the steps
# that need a real volume fail with their reason, and afterwards the machine is as it was. From a folder
# that holds a host service's drive (Partition.ini) it refuses to start.
test_kvph_check() {
    kvph_built "kvph.exe builds for the check" || return
    local folder=$DRIVE_C/check output status before after
    rm -rf "$folder"
    mkdir -p "$folder" "$DATA_DIR"
    cp "$BUILD/kvph.exe" "$DLL" "$folder/"
    printf '[Main]\r\nDisk=7\r\nPartition=2\r\n' >"$DATA_DIR/UserData.ini"
    autorun_set 145
    stand_in "" 0
    before=$(machine_state "$folder")
    output=$(win 'C:\check\kvph.exe' check)
    status=$?
    after=$(machine_state "$folder")
    [ "$status" -eq 1 ] && grep -qE '^[0-9]+ passed, [1-9][0-9]* failed$' <<<"$output" \
        && grep -qF 'expected 1 and the file made: FAILED (there is no file at the path)' <<<"$output" \
        && grep -qF 'expected the same bytes: FAILED (no letter for the scratch drive'"'"'s volume)' <<<"$output" \
        && grep -qF 'expected nothing left changed: passed' <<<"$output" && [ "$before" = "$after" ] \
        && pass "kvph.exe check: $(tail -n1 <<<"$output"), each failure with its reason; folder, UserData.ini, AutoRun as before" \
        || fail "kvph.exe check against the stand-in diskpart" "status $status" "$output" "before: $before" "after: $after"

    output=$("$WINE" 'C:\tool\kvph.exe' check 2>&1 >/dev/null)
    status=$?
    output=$(tr -d '\r' <<<"$output")
    [ "$status" -eq 1 ] && [ "$(wc -l <<<"$output")" -eq 1 ] \
        && grep -qF 'Partition.ini exists: a host service keeps its drive in this folder' <<<"$output" \
        && pass "kvph.exe check refuses, in one line, a folder that holds Partition.ini" \
        || fail "kvph.exe check beside a host service's Partition.ini" "status $status" "$output"
}

# The VHDX drive's exports through kvph.exe against the stand-in diskpart: their scripts, files and the
# AutoRun policy value diskpart sees (255) and finds again afterwards.
test_lifecycle_exports() {
    kvph_built "kvph.exe builds for the lifecycle exports" || return
    local drive='C:\Drives\Life.vhdx' output runs
    rm -rf "$DRIVE_C/Drives/Life.vhdx" "$TOOL/MaxSize.ini"
    mkdir -p "$DRIVE_C/Drives"

    stand_in "" 0
    output=$(tool create "$drive" Duskvale 2048 --expandable)
    runs=$(runs_log)
    grep -qF '"result":1' <<<"$output" && [ "$(grep -c '^RUN ' <<<"$runs")" = 2 ] \
        && grep -qxF 'create vdisk file="C:\Drives\Life.vhdx" type=expandable maximum=2048' <<<"$runs" \
        && grep -qxF 'format quick fs=ntfs label="Duskvale"' <<<"$runs" \
        && grep -qxF 'detach vdisk' <<<"$runs" && grep -qF 'Size=2048' "$TOOL/MaxSize.ini" \
        && [ $(($(attributes_of 'C:\tool\MaxSize.ini') & 0x6)) -eq 2 ] \
        && pass "PH_CreateVHDX: creation and detach scripts, MaxSize.ini hidden (not system) with the cap" \
        || fail "PH_CreateVHDX" "$output" "$runs"

    stand_in "" 0
    printf 'x' >"$DRIVE_C/Drives/Life.vhdx"
    output=$(tool create "$drive" Duskvale 100)
    grep -qF '"result":0' <<<"$output" && [ ! -f "$STAND_IN/runs.log" ] && grep -qF 'Size=2048' "$TOOL/MaxSize.ini" \
        && pass "PH_CreateVHDX over an existing file: 0, nothing run, MaxSize.ini unchanged" \
        || fail "PH_CreateVHDX over an existing file" "$output"

    local state before after key
    for state in value absent-value absent-key all-ones; do
        "$WINE" reg delete "$AUTORUN_KEY" /f >/dev/null 2>&1
        case "$state" in
            value) autorun_set 145 ;;
            absent-value) "$WINE" reg add "$AUTORUN_KEY" /f >/dev/null 2>&1 ;;
            all-ones) autorun_set 4294967295 ;;
        esac
        before=$(autorun_now)
        stand_in "" 0
        output=$(tool attach "$drive")
        runs=$(runs_log)
        after=$(autorun_now)
        key=$(autorun_key_exists && echo kept || echo gone)
        grep -qF '"result":1' <<<"$output" && grep -qF 'autorun=255' <<<"$runs" \
            && grep -qxF 'attach vdisk' <<<"$runs" && [ "$after" = "$before" ] \
            && [ "$key" = "$([ "$state" = absent-key ] && echo gone || echo kept)" ] \
            && pass "PH_AttachVHDX with AutoRun $state: diskpart sees 255, the value is restored exactly (${after:-none})" \
            || fail "PH_AttachVHDX with AutoRun $state" "before: $before after: $after key: $key" "$output" "$runs"
    done

    # The recorded letter C: exists: diskpart's listing says whether the drive is attached. Without a
    # listing, C:'s label decides, as a Wine drive letter has no disk behind it (.windows-label at its
    # root; Wine keeps a label it has read until the wineserver ends). Rows: C:'s label, the listing, the
    # diskpart runs (an attach, or how many) and a text the output holds; each attach gives 1.
    local row label listing expected text
    for row in "Other|none|attach|C: is not the VHDX drive's volume" \
        "Duskvale|none|attach|C: is not the VHDX drive's volume" \
        'Duskvale|attached|1|the VHDX is attached already, but its volume is not C:; nothing is run.' \
        'Duskvale|failing|1|'; do
        IFS='|' read -r label listing expected text <<<"$row"
        printf '%s' "$label" >"$DRIVE_C/.windows-label"
        wineserver -k >/dev/null 2>&1
        printf '[0]\r\nLetter=C:\r\nLabel Name=Duskvale\r\nDisk Type=MBR\r\n[Main]\r\nCount=1\r\n' >"$TOOL/Partition.ini"
        case "$listing" in
            none) stand_in "" 0 ;;
            attached) stand_in "${ATTACHED_LISTING//Duskvale.vhdx/Life.vhdx}" 0 ;;
            failing) stand_in "" 5 ;;
        esac
        output=$(tool attach "$drive")
        runs=$(runs_log)
        grep -qF '"result":1' <<<"$output" && grep -qF "$text" <<<"$output" \
            && { [ "$expected" = attach ] && grep -qxF 'attach vdisk' <<<"$runs" || [ "$(grep -c '^RUN ' <<<"$runs")" = "$expected" ]; } \
            && pass "PH_AttachVHDX, recorded letter C: labelled $label, the drive's listing $listing: 1, runs: $expected${text:+, \"$text\"}" \
            || fail "PH_AttachVHDX with C: labelled $label recorded, listing $listing" "$output" "$runs"
    done
    rm -f "$DRIVE_C/.windows-label"
    wineserver -k >/dev/null 2>&1

    stand_in "" 0
    output=$(tool compact "$drive")
    runs=$(runs_log)
    grep -qF '"result":1' <<<"$output" && grep -qxF 'compact vdisk' <<<"$runs" && grep -qxF 'attach vdisk' <<<"$runs" \
        && pass "PH_CompactThenAttachVHDX: the compaction script, 1" \
        || fail "PH_CompactThenAttachVHDX" "$output" "$runs"

    stand_in "" 5
    output=$(tool detach "$drive" --remove)
    grep -qF '"result":0' <<<"$output" && [ -f "$DRIVE_C/Drives/Life.vhdx" ] && [ -f "$TOOL/MaxSize.ini" ] \
        && pass "PH_DetachVHDX with removal, diskpart failing: 0 and nothing deleted" \
        || fail "PH_DetachVHDX with removal, diskpart failing" "$output"
    stand_in "" 0
    output=$(tool detach "$drive" --remove)
    runs=$(runs_log)
    grep -qF '"result":1' <<<"$output" && grep -qxF 'select vdisk file="C:\Drives\Life.vhdx"' <<<"$runs" \
        && [ ! -e "$DRIVE_C/Drives/Life.vhdx" ] && [ ! -e "$TOOL/MaxSize.ini" ] && [ ! -e "$TOOL/Partition.ini" ] \
        && pass "PH_DetachVHDX with removal: the file, Partition.ini and MaxSize.ini are gone" \
        || fail "PH_DetachVHDX with removal" "$output" "$runs"
}

# A host killed while its attach waits for diskpart leaves AutoRun off and the attach's journal; the next
# call, from a new process, puts the policy back exactly.
test_killed_attach_is_undone_by_the_next_call() {
    local stuck journal=no after output attempt
    autorun_set 145
    rm -f "$HARNESS/Partition.ini"
    stand_in "" 0 4000
    "$WINE" 'C:\kvph\wine_host.exe' attach "$VHDX" >/dev/null 2>>"$WINE_ERRORS" &
    for attempt in $(seq 200); do [ -e "$STAND_IN/running.lock" ] && break; sleep 0.1; done
    "$WINE" taskkill /f /im wine_host.exe >/dev/null 2>>"$WINE_ERRORS" || kill -9 $!
    for attempt in $(seq 200); do [ -e "$STAND_IN/running.lock" ] || break; sleep 0.1; done
    stuck=$(autorun_now)
    [ -f "$DATA_DIR/AutoRun.ini" ] && journal=yes
    stand_in "" 0
    output=$(host check-exist "$VHDX")
    after=$(autorun_now)
    [ "$stuck" = 0xff ] && [ "$journal" = yes ] && [ "$after" = 0x91 ] && [ ! -e "$DATA_DIR/AutoRun.ini" ] \
        && has_log_line "$output" '(KvPartitionHelper)AutoRun policy put back as it was before an unfinished attach.\r\n' \
        && pass "a host killed during its attach leaves AutoRun 0xff and a journal; the next call, in a new process, puts back 0x91" \
        || fail "the next call puts AutoRun back after a killed attach" \
            "after the kill: $stuck, journal: $journal, after the next call: $after" "$output"
}

# A diskpart.exe beside the host program would run first if diskpart were found by a search of its name;
# the library starts the system folder's, which each run of the stand-in records as its PROGRAM.
test_diskpart_from_the_system_folder() {
    kvph_built "kvph.exe builds for the diskpart search" || return
    cp "$BUILD/tests/wine/diskpart.exe" "$TOOL/diskpart.exe"
    stand_in "" 0
    local output programs
    output=$(tool detach 'C:\Drives\Planted.vhdx')
    programs=$(runs_log | sed -n 's/^PROGRAM //p' | sort -u)
    [ -n "$programs" ] && [ "$(tr '[:upper:]' '[:lower:]' <<<"$programs")" = 'c:\windows\system32\diskpart.exe' ] \
        && pass "with a diskpart.exe beside kvph.exe, the library runs the system folder's diskpart.exe" \
        || fail "diskpart from the system folder" "programs: $programs" "$output"
    rm -f "$TOOL/diskpart.exe"
}

# Runs a Windows program that prints "ok <check>" or "FAIL <check>: <detail>" per check and counts one
# result per line, each named after the check with a prefix; an exit code that no FAIL line explains fails.
run_checks() {
    local program=$1 prefix=$2 output status line
    output=$(win "$program")
    status=$?
    while IFS= read -r line; do
        case "$line" in
            "ok "*) pass "$prefix: ${line#ok }" ;;
            "FAIL "*) fail "$prefix: ${line#FAIL }" ;;
        esac
    done <<<"$output"
    [ "$status" -ne 0 ] && ! grep -q '^FAIL ' <<<"$output" && fail "$prefix: $program ended with exit code $status" "$output"
}

# The package as a host project gets it: `cmake --install` lays out exactly bin/, lib/, include/ and the
# package config; CPack's zip holds the same files. KvPartitionHelper.lib imports exactly the twelve
# exports, each by name from KvPartitionHelper.dll, and the public header compiles for the MSVC target
# without a C runtime, as C and as C++, without warnings.
PACKAGE_FILES=$(sort <<'EOF'
bin/KvPartitionHelper.dll
bin/KvPartitionHelper.pdb
bin/kvph.exe
bin/kvph.pdb
include/KvPartitionHelper.h
lib/KvPartitionHelper.lib
lib/cmake/KvPartitionHelper/KvPartitionHelperConfig.cmake
lib/cmake/KvPartitionHelper/KvPartitionHelperConfigVersion.cmake
lib/cmake/KvPartitionHelper/KvPartitionHelperTargets-CONFIG.cmake
lib/cmake/KvPartitionHelper/KvPartitionHelperTargets.cmake
lib/libKvPartitionHelper.dll.a
EOF
)
# File names one a line, the configuration in the targets file's name replaced by CONFIG.
package_listing() { sed 's/KvPartitionHelperTargets-[a-z]*\.cmake$/KvPartitionHelperTargets-CONFIG.cmake/' | sort; }

# Host projects built against the installed package with find_package, then run under Wine from C:\NAME,
# where they check the DLL's free letter against the system's drives (and, built with gcc, the package's
# version in the DLL's version resource). Rows: the source folder, the name, the program, the toolchain
# and the import library the project must link: a mingw-w64 project built with gcc links
# libKvPartitionHelper.dll.a; one built the MSVC way (clang for the MSVC target, lld-link, no runtime)
# links KvPartitionHelper.lib.
test_consumers() {
    local installed=$1 package=$2 row source name program toolchain library
    for row in "consumer consumer consumer.exe $ROOT/cmake/gcc-mingw-w64-x86_64.cmake libKvPartitionHelper.dll.a" \
        "consumer-msvc msvc-consumer msvc_consumer.exe $ROOT/tests/consumer-msvc/clang-msvc-x86_64.cmake KvPartitionHelper.lib"; do
        read -r source name program toolchain library <<<"$row"
        if ! cmake -S "$ROOT/tests/$source" -B "$package/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$installed" >"$package/$name-build.log" 2>&1 \
            || ! ninja -C "$package/$name" >>"$package/$name-build.log" 2>&1; then
            fail "package: the $name host project builds against it with find_package" "see $package/$name-build.log"
        elif ! cmp -s "$package/$name/KvPartitionHelper.dll" "$installed/bin/KvPartitionHelper.dll" \
            || ! grep -qF "$installed/lib/$library" "$package/$name/build.ninja"; then
            fail "package: $name links $library and gets the installed DLL" "$(ls -l "$package/$name")" \
                "$(grep -F KvPartitionHelper "$package/$name/build.ninja" | head -5)"
        else
            pass "package: $name builds with find_package, links $library and gets the installed DLL next to its program"
            rm -rf "${DRIVE_C:?}/$name"
            mkdir -p "$DRIVE_C/$name"
            cp "$package/$name/$program" "$package/$name/KvPartitionHelper.dll" "$DRIVE_C/$name/"
            run_checks "C:\\$name\\$program" "$name"
        fi
    done
}

test_package() {
    kvph_built "package: kvph.exe builds" || return
    local package=$BUILD/package-test
    local installed=$package/install listing members names language output version zip entries
    rm -rf "$package"
    mkdir -p "$package"
    if ! cmake --install "$BUILD" --prefix "$installed" >"$package/install.log" 2>&1; then
        fail "package: cmake --install" "see $package/install.log"
        return
    fi
    listing=$(cd "$installed" && find . -type f | sed 's|^\./||' | package_listing)
    [ "$listing" = "$PACKAGE_FILES" ] \
        && pass "package: cmake --install lays out the DLL, kvph.exe, their PDBs, both import libraries, the header and the package config, nothing else" \
        || fail "package: install layout" "expected: $(tr '\n' ' ' <<<"$PACKAGE_FILES")" "actual:   $(tr '\n' ' ' <<<"$listing")"

    members=$("$READOBJ" "$installed/lib/KvPartitionHelper.lib" 2>&1)
    names=$(sed -n 's/^Symbol: __imp_//p' <<<"$members" | sort)
    [ "$names" = "$(awk '$1 ~ /^PH_/ { print $1 }' "$ROOT/src/frame/exports.def" | sort)" ] \
        && [ "$(grep -c '^Name type: name$' <<<"$members")" -eq 12 ] \
        && [ "$(awk '/^File: / { file = $2 } /^Format: COFF-import-file$/ { print file }' <<<"$members" | sort -u)" = KvPartitionHelper.dll ] \
        && pass "package: KvPartitionHelper.lib imports the twelve exports by name from KvPartitionHelper.dll" \
        || fail "package: KvPartitionHelper.lib" "imports: $(tr '\n' ' ' <<<"$names")" "$(head -c 1500 <<<"$members")"
    for language in c c++; do
        output=$(clang --target=x86_64-pc-windows-msvc -ffreestanding -fsyntax-only -Wall -Wextra -pedantic -Werror \
            -x "$language" "$installed/include/KvPartitionHelper.h" 2>&1)
        [ $? -eq 0 ] && [ -z "$output" ] \
            && pass "package: KvPartitionHelper.h compiles as $language for the MSVC target without a runtime, without warnings" \
            || fail "package: KvPartitionHelper.h as $language for the MSVC target" "$output"
    done
    test_consumers "$installed" "$package"

    version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
        "$installed/lib/cmake/KvPartitionHelper/KvPartitionHelperConfigVersion.cmake")
    if ! (cd "$BUILD" && cpack -G ZIP -B "$package/zip") >"$package/cpack.log" 2>&1; then
        fail "package: cpack -G ZIP" "see $package/cpack.log"
        return
    fi
    zip=$package/zip/KvPartitionHelper-$version-win64.zip
    entries=$(unzip -Z1 "$zip" 2>&1 | grep -v '/$')
    listing=$(sed -n "s|^KvPartitionHelper-$version-win64/||p" <<<"$entries" | package_listing)
    [ -n "$version" ] && [ "$listing" = "$PACKAGE_FILES" ] && [ "$(wc -l <<<"$entries")" -eq "$(wc -l <<<"$listing")" ] \
        && cmp -s <(unzip -p "$zip" "KvPartitionHelper-$version-win64/bin/KvPartitionHelper.dll") "$installed/bin/KvPartitionHelper.dll" \
        && pass "package: KvPartitionHelper-$version-win64.zip holds the installed files under one folder" \
        || fail "package: the zip" "version: $version" "entries: $(tr '\n' ' ' <<<"$entries")" "$(ls "$package/zip")"
}

# The stand-in's runs since it was set up: how many there were when none overlapped (no OVERLAP record,
# none starting before the one before it ended), else nothing.
runs_one_after_another() {
    local runs intervals
    runs=$(runs_log)
    intervals=$(sed -n 's/^RUN start=\([0-9]*\) end=\([0-9]*\).*/\1 \2/p' <<<"$runs" | sort -n)
    if ! grep -q '^OVERLAP' <<<"$runs" \
        && awk 'NR > 1 && $1 < previous_end { bad = 1 } { previous_end = $2 } END { exit bad }' <<<"$intervals"; then
        grep -c . <<<"$intervals"
    fi
}

# Calls at once that never meet in diskpart, each stand-in run lasting long enough that they would. Rows:
# a run's length in ms, what each host prints, then the calls: two hosts at once, or one host's threads.
test_calls_never_overlap() {
    local row delay expected calls i pids count outputs
    mkdir -p "$DRIVE_C/Drives"
    printf 'vhdx' >"$DRIVE_C/Drives/Duskvale.vhdx"
    for row in '1500 ^result.1$ check-exist check-exist' '500 ^result attach compact' '500 ^attach attach-and-compact'; do
        read -r delay expected calls <<<"$row"
        read -r -a calls <<<"$calls"
        stand_in "$ATTACHED_LISTING" 0 "$delay"
        pids=()
        for i in "${!calls[@]}"; do
            host "${calls[$i]}" "$VHDX" >"$BUILD/wine-call-$i.out" &
            pids+=($!)
        done
        wait "${pids[@]}"
        count=$(runs_one_after_another)
        outputs=$(for i in "${!calls[@]}"; do
            grep -q "$expected" "$BUILD/wine-call-$i.out" || echo "${calls[$i]}: $(tr '\n' '|' <"$BUILD/wine-call-$i.out")"
        done)
        [ -n "$count" ] && [ "$count" -ge 2 ] && [ -z "$outputs" ] \
            && pass "${calls[*]} at once: each gives its result, $count diskpart runs one after the other" \
            || fail "${calls[*]} at once never overlap" "$outputs" "runs: $(runs_log | grep -E '^(RUN|OVERLAP)' | tr '\n' '|')"
    done
    rm -rf "$DRIVE_C/Drives"
}

# Without the library's lock in between, two stand-in runs do meet: the overlap check above can fail.
test_stand_in_detects_overlap() {
    stand_in "$ATTACHED_LISTING" 0 1500
    printf 'list vdisk\r\nexit\r\n' >"$STAND_IN/script.txt"
    "$WINE" 'C:\windows\system32\diskpart.exe' /s 'C:\stand-in\script.txt' >/dev/null 2>>"$WINE_ERRORS" &
    local first=$! attempt second_status
    for attempt in $(seq 100); do [ -e "$STAND_IN/running.lock" ] && break; sleep 0.1; done
    "$WINE" 'C:\windows\system32\diskpart.exe' /s 'C:\stand-in\script.txt' >/dev/null 2>>"$WINE_ERRORS"
    second_status=$?
    wait "$first"
    [ "$second_status" -eq 99 ] && grep -q '^OVERLAP' "$STAND_IN/runs.log" \
        && pass "the stand-in diskpart reports runs that overlap (exit 99, OVERLAP)" \
        || fail "the stand-in detects overlap" "second run exit code $second_status" "$(runs_log)"
}

test_binaries
rm -rf "$DRIVE_C/probe" && run_checks 'C:\kvph\backend_probe.exe' backend
test_exports_resolve_under_wine
test_check_exist
test_library_folder_is_the_dlls_own
test_listing_replaces_a_leftover_inventory
test_volume_queries
test_abandoned_call_lock
test_quote_look_alikes_stay_out_of_scripts
test_kvph_tool
test_kvph_capture
test_kvph_check
test_lifecycle_exports
test_killed_attach_is_undone_by_the_next_call
test_diskpart_from_the_system_folder
test_package
test_calls_never_overlap
test_stand_in_detects_overlap
finish
