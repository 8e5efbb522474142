#!/usr/bin/env bash
# Runs the real KvPartitionHelper.dll under Wine in a private prefix with a stand-in diskpart.exe and
# checks its export table, its imports and PH_CheckExistVHDX end to end (batch file, cmd.exe, the
# captured listing, the files left behind, the debug output and machine-wide serialisation), the volume
# queries and the listing on a machine without physical drives, the takeover of an abandoned lock, and
# the package: its install layout, its zip, and a host project built against it (tests/consumer), and
# kvph.exe: its commands, capture and check.
#
# Usage: tests/wine/run_wine_tests.sh [mingw build folder]   (default: build/mingw, configured and
# built here when needed). Ends with "N passed, M failed"; exits non-zero when anything failed.
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
# Fails the check named $1 when kvph.exe did not build.
kvph_built() { [ "$KVPH_BUILT" = yes ] || { fail "$1" "see $BUILD/wine-tests-build.log"; return 1; }; }

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
OTHER=$DRIVE_C/other
STAND_IN=$DRIVE_C/stand-in
DATA_DIR=$DRIVE_C/ProgramData/Norvel/Quillmark
rm -rf "$HARNESS" "$OTHER" "$STAND_IN" "$TOOL"
mkdir -p "$HARNESS" "$OTHER" "$STAND_IN" "$TOOL"
cp "$DLL" "$BUILD/tests/wine/wine_host.exe" "$BUILD/tests/wine/backend_probe.exe" "$HARNESS/"
cp "$DLL" "$OTHER/"
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

# Sets what the stand-in diskpart prints, how it exits and how long it takes, and forgets earlier runs.
stand_in() {
    printf '%s' "$1" >"$STAND_IN/vdisks.txt"
    echo "$2" >"$STAND_IN/exitcode.txt"
    echo "${3:-0}" >"$STAND_IN/delay-ms.txt"
    rm -f "$STAND_IN/runs.log"
}

# Runs the test host; prints its output without CRs and returns its exit status.
host() {
    local output status
    output=$("$WINE" 'C:\kvph\wine_host.exe' "$@" 2>>"$WINE_ERRORS")
    status=$?
    tr -d '\r' <<<"$output"
    return $status
}
result_of() { sed -n 's/^result //p' <<<"$1"; }
has_log_line() { grep -qxF "log $2" <<<"$1"; }
attributes_of() { host attributes "$1" | sed -n 's/^attributes //p'; }

test_export_table() {
    local table expected actual
    table=$("$OBJDUMP" -p "$DLL")
    local base
    base=$(sed -n 's/^Ordinal Base[[:space:]]*//p' <<<"$table" | head -n1)
    actual=$(awk -v base="$base" '
        /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
        inside && /^[[:space:]]*\[/ { gsub(/[][]/, " "); print $2, $1 + base; next }
        inside { inside = 0 }' <<<"$table" | sort)
    expected=$(sort <<'EOF'
PH_AttachVHDX 3
PH_CheckExistVHDX 5
PH_CheckVHDXReadOnly 10
PH_CompactThenAttachVHDX 8
PH_CreateVHDX 2
PH_DetachVHDX 4
PH_FindUsableLabel 7
PH_FormatNTFS 6
PH_GetVHDXVolumeLabel 9
PH_ListFixedPartition 1
PH_SetHidden 21
PH_SetNonHidden 22
EOF
)
    [ "$actual" = "$expected" ] \
        && pass "export table holds exactly the twelve names with ordinals 1-10, 21, 22" \
        || fail "export table" "expected: $(tr '\n' ';' <<<"$expected")" "actual:   $(tr '\n' ';' <<<"$actual")"
}

# The DLL and kvph.exe carry their C and C++ runtimes: they import only DLLs every Windows has.
test_imports_are_system_dlls() {
    local binary imports foreign
    for binary in "$DLL" "$BUILD/kvph.exe"; do
        imports=$("$OBJDUMP" -p "$binary" 2>&1 | sed -n 's/^[[:space:]]*DLL Name: //p')
        foreign=$(grep -viE '^(kernel32|advapi32|user32|gdi32|shell32|shlwapi|ole32|oleaut32|msvcrt|ucrtbase|ntdll|api-ms-win-[a-z0-9-]+)\.dll$' <<<"$imports")
        [ -n "$imports" ] && [ -z "$foreign" ] \
            && pass "$(basename "$binary") imports only system DLLs ($(tr '\n' ' ' <<<"$imports"))" \
            || fail "$(basename "$binary") imports only system DLLs" "not a system DLL: $(tr '\n' ' ' <<<"$foreign")"
    done
}

# The GUID of a binary's CodeView record ("(88 0F 6F 83 2E 74 ...)") written as a PDB shows its own.
codeview_guid() {
    sed -n 's/^[[:space:]]*PDBGUID: (\(.*\))$/\1/p' | awk '{
        printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}\n", $4, $3, $2, $1, $6, $5, $8, $7, $9, $10, $11, $12, $13, $14, $15, $16 }'
}

# What a Windows debugger needs and a loader enforces: no DWARF left in the binary, a CodeView record that
# names only the PDB's file name, the PDB beside it with the same GUID and age and the exports' symbols,
# and ASLR (high-entropy too) and NX switched on.
test_binaries_ship_with_pdb() {
    local binary name pdb record summary problems
    for binary in "$DLL" "$BUILD/kvph.exe"; do
        name=$(basename "$binary")
        pdb=${binary%.*}.pdb
        problems=()
        "$OBJDUMP" -h "$binary" | grep -q '[[:space:]]\.debug_' && problems+=("debug sections left in the binary")
        record=$("$READOBJ" --coff-debug-directory "$binary" 2>&1)
        [ "$(sed -n 's/^[[:space:]]*PDBFileName: //p' <<<"$record")" = "$(basename "$pdb")" ] \
            || problems+=("the CodeView record does not name $(basename "$pdb") alone: $(grep -E 'Type|PDBFileName' <<<"$record" | tr -s ' ')")
        summary=$("$PDBUTIL" dump -summary "$pdb" 2>&1)
        local guid
        guid=$(sed -n 's/^[[:space:]]*GUID: //p' <<<"$summary")
        [ -n "$guid" ] && [ "$guid" = "$(codeview_guid <<<"$record")" ] \
            && [ "$(sed -n 's/^[[:space:]]*Age: //p' <<<"$summary")" = "$(sed -n 's/^[[:space:]]*PDBAge: //p' <<<"$record")" ] \
            || problems+=("$(basename "$pdb") does not match the record: $(tr -s ' \n' ' ' <<<"$summary" | head -c 300)")
        [ "$("$PDBUTIL" dump -publics "$pdb" 2>/dev/null | grep -c '`PH_FindUsableLabel`')" -ge 1 ] \
            || problems+=("$(basename "$pdb") has no public symbol PH_FindUsableLabel")
        local flag
        for flag in DYNAMIC_BASE HIGH_ENTROPY_VA NX_COMPAT; do
            "$READOBJ" --file-headers "$binary" | grep -q "IMAGE_DLL_CHARACTERISTICS_$flag " || problems+=("$flag is off")
        done
        [ ${#problems[@]} -eq 0 ] \
            && pass "$name: no debug sections, its PDB beside it named by the CodeView record, ASLR, high-entropy ASLR and NX on" \
            || fail "$name ships with its PDB" "${problems[@]}"
    done
}

test_exports_resolve_under_wine() {
    local output
    local status
    output=$(host exports 'C:\kvph\KvPartitionHelper.dll')
    status=$?
    [ "$status" -eq 0 ] && [ "$(grep -c '^ok ' <<<"$output")" -eq 12 ] && ! grep -q '^FAIL' <<<"$output" \
        && pass "Wine's loader resolves every export by name and by ordinal, and no other ordinal" \
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
    [ "$(result_of "$output")" = "$result" ] && [ ${#missing[@]} -eq 0 ] \
        && pass "$name" || fail "$name" "$output"
}

test_attached_vhdx_is_found() {
    check_exist_gives "attached VHDX: PH_CheckExistVHDX returns 1" "$ATTACHED_LISTING" 0 "$VHDX" 1 \
        '(KvPartitionHelper)diskpart list vdisk successfully.'
    local runs
    runs=$(tr -d '\r' <"$STAND_IN/runs.log" 2>/dev/null)
    [ "$(grep -c '^RUN ' <<<"$runs")" -eq 1 ] \
        && grep -qF 'COMMAND diskpart /s "C:\ProgramData\Norvel\Quillmark\Command.txt"' <<<"$runs" \
        && [ "$(sed -n '/^SCRIPT-BEGIN$/,/^SCRIPT-END$/p' <<<"$runs")" = $'SCRIPT-BEGIN\nlist vdisk\nexit\nSCRIPT-END' ] \
        && pass "diskpart ran once through the batch file on Command.txt holding \"list vdisk\", \"exit\"" \
        || fail "diskpart command line and script" "$runs"
    cmp -s "$HARNESS/result.txt" <(printf '%s' "$ATTACHED_LISTING") \
        && pass "result.txt next to the DLL holds diskpart's console output" \
        || fail "result.txt holds diskpart's console output" "$(od -c "$HARNESS/result.txt" 2>&1 | head -5)"
}

test_check_exist_results() {
    check_exist_gives "the path is matched without regard to case" "$ATTACHED_LISTING" 0 \
        'c:\DRIVES\duskvale.VHDX' 1
    check_exist_gives "VHDX listed but not attached (while another is): 0" "$ADDED_LISTING" 0 "$VHDX" 0 \
        '(KvPartitionHelper)diskpart list vdisk successfully.'
    check_exist_gives "diskpart exit code 2: 0, with the error line captured from the debug output" \
        "$ATTACHED_LISTING" 2 "$VHDX" 0 '(KvPartitionHelper)Create process OK.\r\n' \
        '(KvPartitionHelper)diskpart error because of 0x00000002.'
    check_exist_gives "attached VHDX listed in words no rule knows: 1" "$OTHER_WORDS_LISTING" 0 "$VHDX" 1
    check_exist_gives "VHDX listed without a disk in words no rule knows: 0" "$OTHER_WORDS_LISTING" 0 \
        'C:\Drives\Other.vhdx' 0
}

test_files_after_a_query() {
    local problems=()
    [ -e "$DATA_DIR/Command.txt" ] && problems+=("Command.txt is still in the data directory")
    [ -d "$DATA_DIR" ] || problems+=("the data directory C:\\ProgramData\\Norvel\\Quillmark was not made")
    [ -e "$HARNESS/temp.bat" ] && problems+=("temp.bat is still next to the DLL")
    local attributes
    attributes=$(attributes_of 'C:\kvph\result.txt')
    if [ "$attributes" = missing ] || [ $((attributes & 0x6)) -ne 6 ]; then
        problems+=("result.txt attributes: $attributes (hidden and system expected)")
    fi
    [ ${#problems[@]} -eq 0 ] \
        && pass "afterwards Command.txt and temp.bat are gone and result.txt is hidden+system ($attributes)" \
        || fail "files after a query" "${problems[@]}"
}

test_library_folder_is_the_dlls_own() {
    stand_in "$ATTACHED_LISTING" 0
    rm -f "$OTHER/result.txt" "$HARNESS/result.txt"
    local output
    output=$(host check-exist-at 'C:\other\KvPartitionHelper.dll' "$VHDX")
    [ "$(result_of "$output")" = 1 ] && [ -f "$OTHER/result.txt" ] && [ ! -e "$HARNESS/result.txt" ] \
        && pass "a DLL loaded from another folder than the program keeps its files in its own folder" \
        || fail "library folder of a DLL loaded from elsewhere" "$output" "$(ls "$OTHER" "$HARNESS")"
}

# cmd expands '%' in batch files: a library folder holding one still gets the listing in its own folder.
test_percent_in_the_library_folder() {
    stand_in "$ATTACHED_LISTING" 0
    local folder="$DRIVE_C/100% Host"
    rm -rf "$folder"
    mkdir -p "$folder"
    cp "$DLL" "$folder/"
    local output
    output=$(host check-exist-at 'C:\100% Host\KvPartitionHelper.dll' "$VHDX")
    [ "$(result_of "$output")" = 1 ] && cmp -s "$folder/result.txt" <(printf '%s' "$ATTACHED_LISTING") \
        && pass "a library folder named \"100% Host\" gets the listing in its result.txt and finds the VHDX" \
        || fail "library folder holding '%'" "$output" "$(ls -a "$folder" "$DRIVE_C")"
    rm -rf "$folder"
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
        && [ "$(result_of "$output")" = 1 ] \
        && cmp -s "$HARNESS/Partition.ini" <(printf '[Main]\r\nCount=0\r\n') \
        && [ "$after" != missing ] && [ $((after & 0x7)) -eq 6 ] && [ ! -e "$HARNESS/Partition.ini.tmp" ] \
        && pass "a hidden read-only Partition.ini full of junk is replaced by exactly [Main] Count=0, hidden+system" \
        || fail "leftover Partition.ini replaced" "set-attributes: $set, attributes before: $attributes after: $after" \
            "$output" "$(od -c "$HARNESS/Partition.ini" 2>&1 | head -5)"
}

# Wine shows no physical drives, so with the VHDX attached no section of the inventory matches it. Listed
# in English or in other words, the queries go past the listing and rebuild the leftover inventory.
test_volume_queries_without_a_matching_section() {
    local listing words query name result answer output
    for listing in "$ATTACHED_LISTING" "$OTHER_WORDS_LISTING"; do
        [ "$listing" = "$ATTACHED_LISTING" ] && words=English || words="other words"
        for query in 'readonly|result 1|state -1' 'letter|result 0|output '; do
            IFS='|' read -r name result answer <<<"$query"
            printf '[0]\r\nLetter=C:\r\nLabel Name=Duskvale\r\n[Main]\r\nCount=1\r\n' >"$HARNESS/Partition.ini"
            stand_in "$listing" 0
            output=$(host "$name" "$VHDX")
            grep -qx "$result" <<<"$output" && grep -qx "$answer" <<<"$output" && ! grep -q '^log Halloway' <<<"$output" \
                && [ "$(grep -c '^RUN ' "$STAND_IN/runs.log")" = 1 ] \
                && cmp -s "$HARNESS/Partition.ini" <(printf '[Main]\r\nCount=0\r\n') \
                && pass "$name of the attached VHDX listed in $words, no section: inventory rebuilt, $result, $answer" \
                || fail "$name without a matching section, listed in $words" "$output"
        done
    done
}

test_null_state_pointer() {
    stand_in "$ATTACHED_LISTING" 0
    local output
    output=$(host readonly-null "$VHDX")
    [ "$(result_of "$output")" = 0 ] && [ ! -e "$STAND_IN/runs.log" ] \
        && pass "PH_CheckVHDXReadOnly with a null state pointer: 0, diskpart not started" \
        || fail "PH_CheckVHDXReadOnly with a null state pointer" "$output" "$(cat "$STAND_IN/runs.log" 2>&1)"
}

# A caller that died holding the call mutex leaves it abandoned; the next call takes it over.
test_abandoned_call_lock() {
    stand_in "$ATTACHED_LISTING" 0
    local output
    output=$(host abandoned-lock "$VHDX")
    [ "$(result_of "$output")" = 1 ] && [ "$(sed -n 's/^again //p' <<<"$output")" = 1 ] \
        && ! grep -q 'call lock' <<<"$output" && [ "$(grep -c '^RUN ' "$STAND_IN/runs.log")" = 2 ] \
        && pass "an abandoned call mutex is taken over: both calls after it return 1" \
        || fail "abandoned call mutex taken over" "$output"
}

# The free letter is the highest of Z: to C: that Wine does not map, as the program sees it itself.
test_free_letter() {
    local output
    output=$(host free-letter)
    local expected
    expected=$(sed -n 's/^expected //p' <<<"$output")
    [ -n "$expected" ] && [ "$(result_of "$output")" = 1 ] && grep -qxF "output $expected" <<<"$output" \
        && pass "PH_FindUsableLabel: 1 with $expected, the highest letter Wine leaves free" \
        || fail "PH_FindUsableLabel against Wine's drive letters" "$output"
}

# Wine shows no physical drives, so hiding, showing and formatting find no disk and start no diskpart.
test_partition_ops_find_no_disk() {
    stand_in "$ATTACHED_LISTING" 0
    local output
    output=$(host partition-ops)
    [ "$(grep -c ' 0$' <<<"$output")" -eq 5 ] && ! grep -q ' 1$' <<<"$output" \
        && ! grep -q '^log ' <<<"$output" && [ ! -e "$STAND_IN/runs.log" ] \
        && pass "PH_SetHidden, PH_SetNonHidden and PH_FormatNTFS without disks: 0, no diskpart, no log line" \
        || fail "hide, unhide and format without disks" "$output" "$(cat "$STAND_IN/runs.log" 2>&1)"
}

# Labels and letters holding U+FF02, U+02BA or U+201C: best fit would write the first two as a double
# quote. Every script line diskpart is given holds no double quote or the two its template wrote. Without
# disks only the creation runs scripts; format and unhide find nothing to change.
test_quote_look_alikes_stay_out_of_scripts() {
    local output runs stray saved_cap=no
    rm -rf "$DRIVE_C/Quotes"
    mkdir -p "$DRIVE_C/Quotes"
    [ -f "$HARNESS/MaxSize.ini" ] && cp -p "$HARNESS/MaxSize.ini" "$HARNESS/MaxSize.ini.saved" && saved_cap=yes
    stand_in "" 0
    output=$(host quote-look-alikes 'C:\Quotes')
    runs=$(tr -d '\r' <"$STAND_IN/runs.log" 2>/dev/null)
    stray=$(sed -n '/^SCRIPT-BEGIN$/,/^SCRIPT-END$/p' <<<"$runs" | LC_ALL=C awk -F'"' 'NF != 1 && NF != 3')
    [ "$(grep -c '^PH_CreateVHDX 1$' <<<"$output")" = 3 ] && [ "$(grep -c ' 0$' <<<"$output")" = 6 ] \
        && [ "$(grep -c '^create vdisk file=' <<<"$runs")" = 3 ] && [ -z "$stray" ] \
        && [ "$(grep -cxF 'format quick fs=ntfs label="A? x"' <<<"$runs")" = 2 ] \
        && LC_ALL=C grep -qxF "format quick fs=ntfs label=\"A$(printf '\223') x\"" <<<"$runs" \
        && pass "labels and letters holding U+FF02, U+02BA, U+201C: no script line carries a stray double quote" \
        || fail "quote look-alikes in labels and letters" "$output" "stray lines: $stray"
    rm -f "$HARNESS/MaxSize.ini"
    [ "$saved_cap" = yes ] && mv "$HARNESS/MaxSize.ini.saved" "$HARNESS/MaxSize.ini"
    rm -rf "$DRIVE_C/Quotes"
}

# The kvph tool as shipped: kvph.exe loads the DLL from its own folder.
test_kvph_tool() {
    kvph_built "kvph.exe builds" || return
    cp "$BUILD/kvph.exe" "$DLL" "$TOOL/"
    stand_in "$ATTACHED_LISTING" 0
    local output
    output=$("$WINE" 'C:\tool\kvph.exe' --json exists "$VHDX" -- list 2>>"$WINE_ERRORS" | tr -d '\r')
    local exists list
    exists=$(grep -F '"command":"exists"' <<<"$output")
    list=$(grep -F '"command":"list"' <<<"$output")
    grep -qF '"result":1' <<<"$exists" && grep -qF 'diskpart list vdisk successfully.' <<<"$exists" \
        && grep -qF '"result":1' <<<"$list" && [ -f "$TOOL/result.txt" ] && [ -f "$TOOL/Partition.ini" ] \
        && pass "kvph.exe --json exists PATH -- list: both 1, the DLL's log and files next to the tool" \
        || fail "kvph.exe under Wine" "$output"

    # Text output: each command's echo, result and the DLL's own log lines, captured in-process.
    stand_in "$ATTACHED_LISTING" 0
    output=$("$WINE" 'C:\tool\kvph.exe' list -- exists "$VHDX" -- free-letter 2>>"$WINE_ERRORS" | tr -d '\r')
    local letter
    letter=$(sed -n '/^> free-letter$/,/^> /{s/^output: //p}' <<<"$output")
    grep -qxF '> list' <<<"$output" && grep -qxF "> exists $VHDX" <<<"$output" \
        && grep -qF '  (KvPartitionHelper)diskpart list vdisk successfully.' <<<"$output" \
        && [ "$(grep -cxF 'result: 1' <<<"$output")" -eq 3 ] && [[ "$letter" =~ ^[D-Z]:$ ]] \
        && pass "kvph.exe list -- exists PATH -- free-letter: results 1, the DLL's log lines, letter $letter" \
        || fail "kvph.exe text output under Wine" "$output"

    # A usage error exits 2 and names the problem.
    local status
    output=$("$WINE" 'C:\tool\kvph.exe' free-letter --json 2>&1 >/dev/null)
    status=$?
    output=$(tr -d '\r' <<<"$output")
    [ "$status" -eq 2 ] && grep -qF -- '--json goes before the first command' <<<"$output" \
        && pass "kvph.exe: an option after the command exits 2 and names the option" \
        || fail "kvph.exe usage error under Wine" "status $status" "$output"
}

# kvph.exe capture reads the machine through the Win32 backend and writes a description that kvph.exe
# --machine then rehearses on, without loading the DLL.
test_kvph_capture() {
    kvph_built "kvph.exe builds" || return
    cp "$BUILD/kvph.exe" "$DLL" "$TOOL/"
    rm -f "$TOOL/captured.json"
    local captured rehearsed
    captured=$("$WINE" 'C:\tool\kvph.exe' --json capture 'C:\tool\captured.json' 2>>"$WINE_ERRORS" | tr -d '\r')
    rehearsed=$("$WINE" 'C:\tool\kvph.exe' --machine 'C:\tool\captured.json' --json list 2>&1 | tr -d '\r')
    grep -qF '"result":1' <<<"$captured" && grep -qF '"disks"' "$TOOL/captured.json" \
        && grep -qF '"command":"list"' <<<"$rehearsed" && grep -qF '"diskpart":[' <<<"$rehearsed" \
        && pass "kvph.exe capture writes this machine; kvph.exe --machine rehearses list on the copy" \
        || fail "kvph.exe capture and --machine under Wine" "$captured" "$rehearsed" "$(head -c 2000 "$TOOL/captured.json" 2>&1)"
}

# The package as a host project gets it: `cmake --install` lays out exactly bin/, lib/, include/ and the
# package config; a project built against it with find_package calls the DLL next to its program and
# finds the package's version in the DLL's version resource; CPack's zip holds the same files.
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

# Builds the host project tests/SOURCE against the installed package with TOOLCHAIN into PACKAGE/NAME;
# fails the check and returns 1 when it does not build.
build_consumer() {
    local installed=$1 package=$2 name=$3 source=$4 toolchain=$5
    cmake -S "$ROOT/tests/$source" -B "$package/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$installed" >"$package/$name-build.log" 2>&1 \
        && ninja -C "$package/$name" >>"$package/$name-build.log" 2>&1 && return
    fail "package: the $name host project builds against it with find_package" "see $package/$name-build.log"
    return 1
}

# Runs the consumer's checks from C:\NAME, the DLL it was built with beside it.
run_consumer() {
    local package=$1 name=$2 program=$3
    rm -rf "${DRIVE_C:?}/$name"
    mkdir -p "$DRIVE_C/$name"
    cp "$package/$name/$program" "$package/$name/KvPartitionHelper.dll" "$DRIVE_C/$name/"
    run_checks "C:\\$name\\$program" "$name"
}

# A mingw-w64 host project, built with gcc: find_package gives it libKvPartitionHelper.dll.a.
test_gnu_consumer() {
    local installed=$1 package=$2
    local consumer=$package/consumer
    build_consumer "$installed" "$package" consumer consumer "$ROOT/cmake/gcc-mingw-w64-x86_64.cmake" || return
    if ! cmp -s "$consumer/KvPartitionHelper.dll" "$installed/bin/KvPartitionHelper.dll"; then
        fail "package: the imported target's DLL is the installed one" "$(ls -l "$consumer")"
    elif ! grep -qF "$installed/lib/libKvPartitionHelper.dll.a" "$consumer/build.ninja"; then
        fail "package: a mingw-w64 host links libKvPartitionHelper.dll.a" "$(grep -F KvPartitionHelper "$consumer/build.ninja" | head -5)"
    else
        pass "package: a mingw-w64 host project builds with gcc and find_package, links libKvPartitionHelper.dll.a and gets the installed DLL next to its program"
        run_consumer "$package" consumer consumer.exe
    fi
}

# The MSVC import library imports exactly the twelve exports, each by name from KvPartitionHelper.dll, and
# the public header compiles for the MSVC target without a C runtime, as C and as C++, without warnings.
test_msvc_import_library() {
    local installed=$1
    local members names expected
    members=$("$READOBJ" "$installed/lib/KvPartitionHelper.lib" 2>&1)
    names=$(sed -n 's/^Symbol: __imp_//p' <<<"$members" | sort)
    expected=$(awk '$1 ~ /^PH_/ { print $1 }' "$ROOT/src/frame/exports.def" | sort)
    [ "$names" = "$expected" ] && [ "$(grep -c '^Name type: name$' <<<"$members")" -eq 12 ] \
        && [ "$(awk '/^File: / { file = $2 } /^Format: COFF-import-file$/ { print file }' <<<"$members" | sort -u)" \
            = KvPartitionHelper.dll ] \
        && pass "package: KvPartitionHelper.lib imports the twelve exports by name from KvPartitionHelper.dll" \
        || fail "package: KvPartitionHelper.lib" "imports: $(tr '\n' ' ' <<<"$names")" "$(head -c 1500 <<<"$members")"
    local language output
    for language in c c++; do
        output=$(clang --target=x86_64-pc-windows-msvc -ffreestanding -fsyntax-only -Wall -Wextra -pedantic -Werror \
            -x "$language" "$installed/include/KvPartitionHelper.h" 2>&1)
        [ $? -eq 0 ] && [ -z "$output" ] \
            && pass "package: KvPartitionHelper.h compiles as $language for the MSVC target without a runtime, without warnings" \
            || fail "package: KvPartitionHelper.h as $language for the MSVC target" "$output"
    done
}

# A host project built the MSVC way (clang for the MSVC target, lld-link, no runtime): find_package gives
# it KvPartitionHelper.lib, and under Wine it finds the same free letter as the system reports.
test_msvc_consumer() {
    local installed=$1 package=$2
    local consumer=$package/msvc-consumer
    build_consumer "$installed" "$package" msvc-consumer consumer-msvc \
        "$ROOT/tests/consumer-msvc/clang-msvc-x86_64.cmake" || return
    grep -qF "$installed/lib/KvPartitionHelper.lib" "$consumer/build.ninja" \
        || { fail "package: an MSVC host links KvPartitionHelper.lib" "$(grep -F KvPartitionHelper "$consumer/build.ninja" | head -5)"; return; }
    pass "package: an MSVC host project builds with clang and lld-link and find_package, linking KvPartitionHelper.lib"
    run_consumer "$package" msvc-consumer msvc_consumer.exe
}

test_package() {
    kvph_built "package: kvph.exe builds" || return
    local package=$BUILD/package-test
    local installed=$package/install
    rm -rf "$package"
    mkdir -p "$package"
    if ! cmake --install "$BUILD" --prefix "$installed" >"$package/install.log" 2>&1; then
        fail "package: cmake --install" "see $package/install.log"
        return
    fi
    local listing
    listing=$(cd "$installed" && find . -type f | sed 's|^\./||' | package_listing)
    [ "$listing" = "$PACKAGE_FILES" ] \
        && pass "package: cmake --install lays out the DLL, kvph.exe, their PDBs, both import libraries, the header and the package config, nothing else" \
        || fail "package: install layout" "expected: $(tr '\n' ' ' <<<"$PACKAGE_FILES")" "actual:   $(tr '\n' ' ' <<<"$listing")"

    test_gnu_consumer "$installed" "$package"
    test_msvc_import_library "$installed"
    test_msvc_consumer "$installed" "$package"

    local version zip entries
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
        && cmp -s <(unzip -p "$zip" "KvPartitionHelper-$version-win64/bin/KvPartitionHelper.dll") \
            "$installed/bin/KvPartitionHelper.dll" \
        && pass "package: KvPartitionHelper-$version-win64.zip holds the installed files under one folder" \
        || fail "package: the zip" "version: $version" "entries: $(tr '\n' ' ' <<<"$entries")" "$(ls "$package/zip")"
}

# The stand-in's runs since it was set up: how many there were when none overlapped (no OVERLAP record,
# none starting before the one before it ended), else nothing.
runs_one_after_another() {
    local runs intervals
    runs=$(tr -d '\r' <"$STAND_IN/runs.log" 2>/dev/null)
    intervals=$(sed -n 's/^RUN start=\([0-9]*\) end=\([0-9]*\).*/\1 \2/p' <<<"$runs" | sort -n)
    if ! grep -q '^OVERLAP' <<<"$runs" \
        && awk 'NR > 1 && $1 < previous_end { bad = 1 } { previous_end = $2 } END { exit bad }' <<<"$intervals"; then
        grep -c . <<<"$intervals"
    fi
}

runs_summary() {
    grep -E '^(RUN|OVERLAP)' "$STAND_IN/runs.log" 2>&1 | tr -d '\r' | tr '\n' '|'
}

# Runs two hosts at once on the VHDX, the first with command $1, the second with $2; their output goes
# to wine-first.out and wine-second.out.
two_hosts() {
    host "$1" "$VHDX" >"$BUILD/wine-first.out" &
    local first=$!
    host "$2" "$VHDX" >"$BUILD/wine-second.out" &
    wait "$first" $!
}

# Each stand-in run takes 1.5 s, so two callers that did not wait for each other would meet.
test_two_processes_never_overlap() {
    stand_in "$ATTACHED_LISTING" 0 1500
    two_hosts check-exist check-exist
    [ "$(result_of "$(cat "$BUILD/wine-first.out")")" = 1 ] && [ "$(result_of "$(cat "$BUILD/wine-second.out")")" = 1 ] \
        && [ "$(runs_one_after_another)" = 2 ] \
        && pass "two processes calling PH_CheckExistVHDX at once: both 1, their diskpart runs one after the other" \
        || fail "two processes never overlap" "first: $(tr '\n' '|' <"$BUILD/wine-first.out")" \
            "second: $(tr '\n' '|' <"$BUILD/wine-second.out")" "runs: $(runs_summary)"
}

# PH_AttachVHDX and PH_CompactThenAttachVHDX at once, from two threads of one host and from two hosts: each
# runs diskpart at least once, and no two runs meet (each lasts 0.5 s).
test_attach_and_compact_never_overlap() {
    mkdir -p "$DRIVE_C/Drives"
    printf 'vhdx' >"$DRIVE_C/Drives/Duskvale.vhdx"
    stand_in "$ATTACHED_LISTING" 0 500
    host attach-and-compact "$VHDX" >"$BUILD/wine-threads.out"
    local count
    count=$(runs_one_after_another)
    [ -n "$count" ] && [ "$count" -ge 2 ] && grep -q '^attach ' "$BUILD/wine-threads.out" \
        && pass "two threads calling PH_AttachVHDX and PH_CompactThenAttachVHDX at once: $count diskpart runs, one after the other" \
        || fail "two threads never overlap" "host: $(tr '\n' '|' <"$BUILD/wine-threads.out")" "runs: $(runs_summary)"

    stand_in "$ATTACHED_LISTING" 0 500
    two_hosts attach compact
    count=$(runs_one_after_another)
    [ -n "$count" ] && [ "$count" -ge 2 ] && grep -q '^result ' "$BUILD/wine-first.out" \
        && grep -q '^result ' "$BUILD/wine-second.out" \
        && pass "two processes calling PH_AttachVHDX and PH_CompactThenAttachVHDX at once: $count diskpart runs, one after the other" \
        || fail "two processes never overlap in attach and compact" "first: $(tr '\n' '|' <"$BUILD/wine-first.out")" \
            "second: $(tr '\n' '|' <"$BUILD/wine-second.out")" "runs: $(runs_summary)"
    rm -rf "$DRIVE_C/Drives"
}

# Without the library's lock in between, two stand-in runs do meet: the overlap check above can fail.
test_stand_in_detects_overlap() {
    stand_in "$ATTACHED_LISTING" 0 1500
    printf 'list vdisk\r\nexit\r\n' >"$STAND_IN/script.txt"
    "$WINE" 'C:\windows\system32\diskpart.exe' /s 'C:\stand-in\script.txt' >/dev/null 2>>"$WINE_ERRORS" &
    local first=$!
    local waited=0
    while [ ! -e "$STAND_IN/running.lock" ] && [ "$waited" -lt 100 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    "$WINE" 'C:\windows\system32\diskpart.exe' /s 'C:\stand-in\script.txt' >/dev/null 2>>"$WINE_ERRORS"
    local second_status=$?
    wait "$first"
    [ "$second_status" -eq 99 ] && grep -q '^OVERLAP' "$STAND_IN/runs.log" \
        && pass "the stand-in diskpart reports runs that overlap (exit 99, OVERLAP)" \
        || fail "the stand-in detects overlap" "second run exit code $second_status" "$(cat "$STAND_IN/runs.log" 2>&1)"
}

# What `kvph.exe check` must leave as it found it: the folder it runs from, the data directory with
# UserData.ini, the AutoRun policy and the temporary folders.
machine_state() {
    local folder=$1
    (cd "$folder" && find . -type f -exec md5sum {} + | sort)
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
    "$WINE" reg add "$AUTORUN_KEY" /v NoDriveTypeAutoRun /t REG_DWORD /d 145 /f >/dev/null 2>&1
    stand_in "" 0
    before=$(machine_state "$folder")
    output=$("$WINE" 'C:\check\kvph.exe' check 2>>"$WINE_ERRORS")
    status=$?
    output=$(tr -d '\r' <<<"$output")
    after=$(machine_state "$folder")
    [ "$status" -eq 1 ] && grep -qE '^[0-9]+ passed, [1-9][0-9]* failed$' <<<"$output" \
        && grep -qF 'expected 1 and the file made: FAILED (there is no file at the path)' <<<"$output" \
        && grep -qF 'expected the same bytes: FAILED (no letter for the scratch drive'"'"'s volume)' <<<"$output" \
        && grep -qF 'expected nothing left changed: passed' <<<"$output" && [ "$before" = "$after" ] \
        && pass "kvph.exe check: $(tail -n1 <<<"$output"), each failure with its reason; folder, UserData.ini, AutoRun as before" \
        || fail "kvph.exe check against the stand-in diskpart" "status $status" "$output" \
            "before: $before" "after: $after"

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
AUTORUN_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\Explorer'
tool() { "$WINE" 'C:\tool\kvph.exe' --json "$@" 2>>"$WINE_ERRORS" | tr -d '\r'; }
runs_log() { tr -d '\r' <"$STAND_IN/runs.log" 2>/dev/null; }
autorun_now() {
    "$WINE" reg query "$AUTORUN_KEY" /v NoDriveTypeAutoRun 2>/dev/null | tr -d '\r' \
        | sed -n 's/.*REG_DWORD[[:space:]]*//p'
}
autorun_key_exists() { "$WINE" reg query "$AUTORUN_KEY" >/dev/null 2>&1; }

test_lifecycle_exports() {
    kvph_built "kvph.exe builds for the lifecycle exports" || return
    cp "$BUILD/kvph.exe" "$DLL" "$TOOL/"
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

    local state before after
    for state in value absent-value absent-key all-ones; do
        "$WINE" reg delete "$AUTORUN_KEY" /f >/dev/null 2>&1
        case "$state" in
            value) "$WINE" reg add "$AUTORUN_KEY" /v NoDriveTypeAutoRun /t REG_DWORD /d 145 /f >/dev/null 2>&1 ;;
            absent-value) "$WINE" reg add "$AUTORUN_KEY" /f >/dev/null 2>&1 ;;
            all-ones) "$WINE" reg add "$AUTORUN_KEY" /v NoDriveTypeAutoRun /t REG_DWORD /d 4294967295 /f >/dev/null 2>&1 ;;
        esac
        before=$(autorun_now)
        stand_in "" 0
        output=$(tool attach "$drive")
        runs=$(runs_log)
        after=$(autorun_now)
        local key_kept=yes
        if [ "$state" = absent-key ] && autorun_key_exists; then key_kept=no; fi
        if [ "$state" != absent-key ] && ! autorun_key_exists; then key_kept=no; fi
        grep -qF '"result":1' <<<"$output" && grep -qF 'autorun=255' <<<"$runs" \
            && grep -qxF 'attach vdisk' <<<"$runs" && [ "$after" = "$before" ] && [ "$key_kept" = yes ] \
            && pass "PH_AttachVHDX with AutoRun $state: diskpart sees 255, the value is restored exactly (${after:-none})" \
            || fail "PH_AttachVHDX with AutoRun $state" "before: $before after: $after key kept: $key_kept" "$output" "$runs"
    done

    # The recorded letter C: exists: diskpart's listing says whether the drive is attached. Without a
    # listing, C:'s label decides, as a Wine drive letter has no disk behind it (.windows-label at its
    # root; Wine keeps a label it has read until the wineserver ends).
    local label listing count
    for listing in 'Other none' 'Duskvale none' 'Duskvale attached' 'Duskvale failing'; do
        read -r label listing <<<"$listing"
        printf '%s' "$label" >"$DRIVE_C/.windows-label"
        wineserver -k >/dev/null 2>&1
        printf '[0]\r\nLetter=C:\r\nLabel Name=Duskvale\r\nDisk Type=MBR\r\n[Main]\r\nCount=1\r\n' >"$TOOL/Partition.ini"
        case "$listing" in
            none) stand_in "" 0 ;;
            attached) stand_in "${ATTACHED_LISTING//Duskvale.vhdx/Life.vhdx}" 0 ;;
            failing) stand_in "" 5 ;;
        esac
        output=$(tool attach "$drive")
        runs=$(runs_log 2>/dev/null)
        count=$(grep -c '^RUN ' <<<"$runs")
        if [ "$listing" = none ] && grep -qF '"result":1' <<<"$output" && grep -qxF 'attach vdisk' <<<"$runs" \
            && grep -qF "C: is not the VHDX drive's volume" <<<"$output"; then
            pass "PH_AttachVHDX, recorded letter C: labelled $label, the drive not listed: one line, a plain attach"
        elif [ "$listing" = attached ] && grep -qF '"result":1' <<<"$output" && [ "$count" = 1 ] \
            && grep -qF 'the VHDX is attached already, but its volume is not C:; nothing is run.' <<<"$output"; then
            pass "PH_AttachVHDX, the drive listed attached, its volume not at the recorded C:: 1, one line, only the listing"
        elif [ "$listing" = failing ] && grep -qF '"result":1' <<<"$output" && [ "$count" = 1 ]; then
            pass "PH_AttachVHDX, no listing, recorded letter C: with the recorded label: 1, only the failed listing run"
        else
            fail "PH_AttachVHDX with C: labelled $label recorded, listing $listing" "$output" "$runs"
        fi
    done
    rm -f "$DRIVE_C/.windows-label"
    wineserver -k >/dev/null 2>&1

    stand_in "" 0
    output=$(tool compact "$drive")
    runs=$(runs_log)
    grep -qF '"result":1' <<<"$output" && grep -qxF 'compact vdisk' <<<"$runs" \
        && grep -qxF 'attach vdisk' <<<"$runs" \
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
    "$WINE" reg add "$AUTORUN_KEY" /v NoDriveTypeAutoRun /t REG_DWORD /d 145 /f >/dev/null 2>&1
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
    cp "$BUILD/kvph.exe" "$DLL" "$TOOL/"
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
    local program=$1 prefix=$2
    local output status line
    output=$("$WINE" "$program" 2>>"$WINE_ERRORS")
    status=$?
    output=$(tr -d '\r' <<<"$output")
    while IFS= read -r line; do
        case "$line" in
            "ok "*) pass "$prefix: ${line#ok }" ;;
            "FAIL "*) fail "$prefix: ${line#FAIL }" ;;
        esac
    done <<<"$output"
    if [ "$status" -ne 0 ] && ! grep -q '^FAIL ' <<<"$output"; then
        fail "$prefix: $program ended with exit code $status" "$output"
    fi
}

# One result per check of the backend probe.
test_backend() {
    rm -rf "$DRIVE_C/probe"
    run_checks 'C:\kvph\backend_probe.exe' backend
}

test_export_table
test_backend
test_imports_are_system_dlls
test_binaries_ship_with_pdb
test_exports_resolve_under_wine
test_attached_vhdx_is_found
test_check_exist_results
test_files_after_a_query
test_library_folder_is_the_dlls_own
test_percent_in_the_library_folder
test_listing_replaces_a_leftover_inventory
test_volume_queries_without_a_matching_section
test_null_state_pointer
test_abandoned_call_lock
test_free_letter
test_partition_ops_find_no_disk
test_quote_look_alikes_stay_out_of_scripts
test_kvph_tool
test_kvph_capture
test_kvph_check
test_lifecycle_exports
test_killed_attach_is_undone_by_the_next_call
test_diskpart_from_the_system_folder
test_package
test_two_processes_never_overlap
test_attach_and_compact_never_overlap
test_stand_in_detects_overlap
finish
