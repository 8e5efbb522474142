#include <gtest/gtest.h>

#include "platform/WinConstants.h"
#include "sim/Machine.h"

namespace sim {
namespace {

namespace win = kvph::win;

constexpr wchar_t kIni[] = L"C:\\Data\\Settings.ini";

class SimProfilesTest : public ::testing::Test {
protected:
    SimProfilesTest() {
        machine.model().letters.push_back(L'C');
        machine.putFolder(L"C:\\Data");
    }

    std::wstring get(const std::wstring& section, const std::wstring& key, std::uint32_t units = 260,
                     const std::wstring& fallback = L"default") {
        return machine.getPrivateProfileStringW(section, key, fallback, units, kIni);
    }

    void write(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
        ASSERT_TRUE(machine.writePrivateProfileStringW(section, key, value, kIni).ok);
    }

    Machine machine;
};

TEST_F(SimProfilesTest, ReadsValuesAsThePlatformDoes) {
    machine.putFile(kIni,
                    "stray=before any section\r\n"
                    "[Main]\r\n"
                    "Count = 3 \r\n"
                    "Quoted=\"  spaced  \"\r\n"
                    "Single='x'\r\n"
                    "Half=\"open\r\n"
                    "Long=abcdefghij\r\n"
                    "Bare\r\n"
                    "[ main ]\r\n"
                    "Count=second section ignored\n"
                    "[Other]\n"
                    "count=7");
    struct Case {
        const wchar_t* section;
        const wchar_t* key;
        std::uint32_t units;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"MAIN", L"count", 260, L"3"},            // case-insensitive, value trimmed
        {L"Main", L"Quoted", 260, L"  spaced  "},  // one pair of quotes removed, inner blanks kept
        {L"Main", L"Single", 260, L"x"},          {L"Main", L"Half", 260, L"\"open"},
        {L"Main", L"Long", 5, L"abcd"},       // cut to the buffer less its terminator
        {L"Main", L"Bare", 260, L"default"},  // a line without "=" holds no value
        {L"Main", L"Missing", 260, L"default"},   {L"Nowhere", L"Count", 260, L"default"},
        {L"Other", L"COUNT", 260, L"7"},       // LF endings and no final line end
        {L"Main", L"stray", 260, L"default"},  // lines before the first section belong to none
    };
    for (const Case& c : cases) {
        EXPECT_EQ(get(c.section, c.key, c.units), c.expected) << c.key;
    }
    EXPECT_EQ(machine.getPrivateProfileStringW(L"Main", L"Missing", L"fallback   ", 260, kIni), L"fallback");
    EXPECT_EQ(machine.getPrivateProfileStringW(L"Main", L"Missing", L"x", 260, L"C:\\Data\\none.ini"), L"x");
}

TEST_F(SimProfilesTest, IntegersParseLikeThePlatform) {
    machine.putFile(kIni,
                    "[N]\r\nplain=42\r\nsigned=-5\r\nhex=0x1F\r\ntrailing=12abc\r\nword=abc\r\nempty=\r\n"
                    "quoted=\"17\"\r\nspace=  8\r\n");
    struct Case {
        const wchar_t* key;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {L"plain", 42},   {L"signed", static_cast<std::uint32_t>(-5)},
        {L"hex", 31},     {L"trailing", 12},
        {L"word", 0},     {L"empty", 99},  // an empty value gives the default
        {L"quoted", 17},  {L"space", 8},
        {L"missing", 99},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(machine.getPrivateProfileIntW(L"N", c.key, 99, kIni), c.expected) << c.key;
    }
}

TEST_F(SimProfilesTest, WritesEditTheFileInPlace) {
    write(L"Main", L"Count", L"1");
    write(L"0", L"Letter", L"C:\\");
    write(L"main", L"Extra", L"x");  // new key at the end of its section, found without regard to case
    write(L"MAIN", L"count", L"2");  // replaced in place, the key keeps its spelling
    write(L"0", L"Label", L"Caf\u00e9 \u20ac \u4e2d");
    EXPECT_EQ(machine.fileBytes(kIni), std::string("[Main]\r\nCount=2\r\nExtra=x\r\n"
                                                   "[0]\r\nLetter=C:\\\r\nLabel=Caf\xe9 \x80 ?\r\n"));
    EXPECT_EQ(get(L"0", L"Label"), L"Caf\u00e9 \u20ac ?");
}

TEST_F(SimProfilesTest, NewKeysGoAfterTheLastEntryNotAfterBlankLines) {
    machine.putFile(kIni, "[A]\r\nx=1\r\n\r\n[B]\r\ny=2", win::FILE_ATTRIBUTE_HIDDEN_);
    write(L"A", L"z", L"3");
    write(L"B", L"w", L"4");
    EXPECT_EQ(machine.fileBytes(kIni), std::string("[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\nw=4\r\n"));
    EXPECT_EQ(machine.fileAttributes(kIni), win::FILE_ATTRIBUTE_HIDDEN_);
}

TEST_F(SimProfilesTest, DeletingThenWritingStartsAFreshFile) {
    write(L"Main", L"Old", L"1");
    ASSERT_TRUE(machine.deleteFileW(kIni).ok);
    write(L"Main", L"Size", L"20480");
    EXPECT_EQ(machine.fileBytes(kIni), std::string("[Main]\r\nSize=20480\r\n"));
}

TEST_F(SimProfilesTest, WritesThatCannotHappen) {
    const auto noFolder = machine.writePrivateProfileStringW(L"S", L"k", L"v", L"C:\\Missing\\a.ini");
    EXPECT_FALSE(noFolder.ok);
    EXPECT_EQ(noFolder.error, win::ERROR_PATH_NOT_FOUND_);
    machine.putFile(kIni, "[S]\r\nk=old\r\n", win::FILE_ATTRIBUTE_READONLY_);
    EXPECT_EQ(machine.writePrivateProfileStringW(L"S", L"k", L"v", kIni).error, win::ERROR_ACCESS_DENIED_);
    EXPECT_EQ(get(L"S", L"k"), L"old");
}

TEST_F(SimProfilesTest, UnicodeFilesStayUnicode) {
    const std::string utf16 = std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0\xAC\x20\r\0\n\0", 22);
    machine.putFile(kIni, utf16);
    EXPECT_EQ(get(L"S", L"k"), L"\u20ac");
    write(L"S", L"n", L"\u4e2d");
    const std::string added = std::string("n\0=\0\x2d\x4e\r\0\n\0", 10);
    EXPECT_EQ(machine.fileBytes(kIni), utf16 + added);
}

TEST_F(SimProfilesTest, FaultsMatchFileSectionAndKey) {
    write(L"Main", L"Disk", L"1");
    machine.injectFault({"getPrivateProfileStringW", 2, 0, 1, L"settings.ini|main|disk"});
    EXPECT_EQ(get(L"Main", L"Disk"), L"default");
    EXPECT_EQ(get(L"Main", L"Disk"), L"1");
    machine.injectFault({"writePrivateProfileStringW", 5, 0, 1, L"|Main|"});
    EXPECT_EQ(machine.writePrivateProfileStringW(L"Main", L"Disk", L"2", kIni).error, 5u);
    EXPECT_EQ(get(L"Main", L"Disk"), L"1");
}

}  // namespace
}  // namespace sim
