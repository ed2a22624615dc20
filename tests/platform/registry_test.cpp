#include "platform/failure.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <random>

namespace tarnveil {
namespace {

constexpr uint32_t HKLM = Registry::HKEY_LOCAL_MACHINE;

void writeFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string lookup(const Registry& reg, const std::string& key, const std::string& value,
                   std::string initial = {}, int16_t* result = nullptr)
{
    const int16_t r = GetKeyValue(reg, HKLM, key, value, initial);
    if (result)
        *result = r;
    return initial;
}

const char* const Sample = R"(REGEDIT4

; written by hand
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO]
"PATH"="C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe"
"Quoted"="say \"hi\""
"Number"=dword:00000102
"Big"=dword:01020304
"Expand"=hex(2):25,00,53,00,59,00,53,00,00,00
"Blob"=hex:de,ad,\
  be,ef
"Empty"=hex:
"Blank"=""
"Raw"=hex(1):41,42,43
@="default text"

[HKEY_CURRENT_USER\SOFTWARE\Microsoft\Shared Tools Location]
"MSINFO"="not held"

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools Location]
"MSINFO"="/opt/first"
"MSINFO"="/opt/second"
"Gone"="x"
"Gone"=-
)";

TEST(Registry, ReadsEachValueKindOfAnExportedFile)
{
    const Registry reg = Registry::parse(Sample);
    const std::string key = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    int16_t ok = 0;

    EXPECT_EQ(lookup(reg, key, "PATH", {}, &ok),
              "C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe");
    EXPECT_EQ(ok, -1);
    EXPECT_EQ(lookup(reg, key, "Quoted"), "say \"hi\"");
    EXPECT_EQ(lookup(reg, key, ""), "default text");
    EXPECT_EQ(lookup(reg, key, "Blank", "caller", &ok), "");
    EXPECT_EQ(ok, -1);
    // A text stored without terminator keeps all its characters.
    EXPECT_EQ(lookup(reg, key, "Raw"), "ABC");
    // Continued lines join into one byte list.
    Registry::KeyHandle handle = nullptr;
    ASSERT_EQ(reg.openKey(HKLM, key, 0, 0, handle), Registry::ERROR_SUCCESS);
    uint8_t buffer[8] = {};
    uint32_t size = sizeof buffer, type = 0;
    ASSERT_EQ(reg.queryValue(handle, "Blob", type, buffer, size), Registry::ERROR_SUCCESS);
    EXPECT_EQ(type, Registry::REG_BINARY);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(buffer[0], 0xDE);
    EXPECT_EQ(buffer[3], 0xEF);
}

TEST(Registry, NumbersReadMostSignificantFirstWithTheTopNulCut)
{
    const Registry reg = Registry::parse(Sample);
    const std::string key = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    // 258 is stored 02 01 00 00; the last byte is NUL and is cut.
    EXPECT_EQ(lookup(reg, key, "Number"), "&h000102");
    EXPECT_EQ(lookup(reg, key, "Big"), "&h01020304");
}

TEST(Registry, OtherTypesKeepTheCallersText)
{
    const Registry reg = Registry::parse(Sample);
    int16_t ok = 0;
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "Expand", "kept", &ok), "kept");
    EXPECT_EQ(ok, -1);
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "Expand", "", &ok), "");
    EXPECT_EQ(ok, -1);
}

TEST(Registry, NamesMatchWithoutCaseAndLaterLinesWin)
{
    const Registry reg = Registry::parse(Sample);
    EXPECT_EQ(lookup(reg, "software\\MICROSOFT\\shared tools\\msinfo", "path"),
              "C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe");
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO"), "/opt/second");
    // Keys on the way to a stored key open too, as in Windows.
    Registry::KeyHandle handle = nullptr;
    EXPECT_EQ(reg.openKey(HKLM, "SOFTWARE\\Microsoft", 0, 0, handle), Registry::ERROR_SUCCESS);
    EXPECT_EQ(reg.openKey(HKLM, "SOFTWARE\\Nobody", 0, 0, handle), Registry::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.openKey(0x80000001u, "SOFTWARE\\Microsoft\\Shared Tools Location", 0, 0, handle),
              Registry::ERROR_FILE_NOT_FOUND);
}

TEST(Registry, MissingKeyOrValueClearsTheTextAndFails)
{
    const Registry reg = Registry::parse(Sample);
    int16_t ok = -1;
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Nobody", "PATH", "old", &ok), "");
    EXPECT_EQ(ok, 0);
    ok = -1;
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Microsoft\\Shared Tools Location", "Gone", "old", &ok), "");
    EXPECT_EQ(ok, 0);
}

TEST(Registry, ValueOfLengthZeroIsAFailure)
{
    const Registry reg = Registry::parse(Sample);
    std::string text;
    try {
        GetKeyValue(reg, HKLM, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "Empty", text);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::InvalidArgument);
    }
}

TEST(Registry, ValuesBeyondTheBufferAreRefused)
{
    // 1023 characters and the terminator fill the 1024-byte buffer exactly.
    const std::string fits(1023, 'a');
    const std::string tooLong(1024, 'b');
    const Registry reg = Registry::parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"fits\"=\"" + fits
                                         + "\"\n\"long\"=\"" + tooLong + "\"\n");
    int16_t ok = 0;
    EXPECT_EQ(lookup(reg, "K", "fits", {}, &ok), fits);
    EXPECT_EQ(ok, -1);
    EXPECT_EQ(lookup(reg, "K", "long", "old", &ok), "");
    EXPECT_EQ(ok, 0);
}

TEST(Registry, ReadsTextInTheEncodingOfEachExportVersion)
{
    // REGEDIT4 is ANSI: the same letter arrives as one Windows-1252 byte.
    const Registry ansi = Registry::parse("REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"/opt/caf\xE9 \x80\"\r\n");
    EXPECT_EQ(lookup(ansi, "K", "v"), "/opt/caf\xC3\xA9 \xE2\x82\xAC");
    // ... unless the file is valid UTF-8, as earlier versions of the console wrote it.
    const Registry ours = Registry::parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"/opt/caf\xC3\xA9\"\n");
    EXPECT_EQ(lookup(ours, "K", "v"), "/opt/caf\xC3\xA9");
    const Registry utf8 = Registry::parse("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\K]\n"
                                          "\"v\"=\"/opt/caf\xC3\xA9\"\n");
    EXPECT_EQ(lookup(utf8, "K", "v"), "/opt/caf\xC3\xA9");

    test::TempDir dir;
    const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\r\n"
                             "\"MSINFO\"=\"/opt/caf\xC3\xA9\"\r\n";
    // UTF-8 -> UTF-16LE with BOM, by hand for the one non-ASCII letter.
    std::string utf16 = "\xFF\xFE";
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) == 0xC3) {
            utf16 += '\xE9';
            utf16 += '\0';
            ++i;
            continue;
        }
        utf16 += text[i];
        utf16 += '\0';
    }
    writeFile(dir / "system.reg", utf16);
    const Registry reg = Registry::load(systemRegistryFile(dir.path()));
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO"), "/opt/caf\xC3\xA9");
}

TEST(Registry, MissingOrUnreadableFileOpensNoKey)
{
    test::TempDir dir;
    Registry::KeyHandle handle = nullptr;
    const Registry missing = Registry::load(dir / "system.reg");
    EXPECT_EQ(missing.openKey(HKLM, "SOFTWARE", 0, 0, handle), Registry::ERROR_FILE_NOT_FOUND);

    // A folder in the file's place cannot be read, whoever runs the test.
    std::filesystem::create_directory(dir / "system.reg");
    const Registry unreadable = Registry::load(dir / "system.reg");
    EXPECT_EQ(unreadable.openKey(HKLM, "SOFTWARE", 0, 0, handle), Registry::ERROR_ACCESS_DENIED);
    std::string text = "old";
    EXPECT_EQ(GetKeyValue(unreadable, HKLM, "SOFTWARE", "x", text), 0);
    EXPECT_EQ(text, "");
}

TEST(Registry, MalformedInputNeverBreaksTheParser)
{
    const std::vector<std::string> damaged = {
        "[", "]", "[HKEY_LOCAL_MACHINE\\A", "[HKEY_LOCAL_MACHINE\\A]\n\"", "[HKEY_LOCAL_MACHINE\\A]\n\"x\"",
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=", "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"unterminated",
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789", "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz",
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(:00", "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(2:00",
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:0", "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:00,,01",
        "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:00,\\", "\\\\\\\\", "[-HKEY_LOCAL_MACHINE]", "\xFF\xFE\x41",
        "\xFF\xFE\x00\xD8\x00\xD8", "[HKEY_LOCAL_MACHINE\\\\\\]",
    };
    for (const auto& text : damaged) {
        const Registry reg = Registry::parse(text);
        std::string value;
        GetKeyValue(reg, HKLM, "A", "x", value);
    }

    std::mt19937 random(20240611);
    std::string alphabet = "[]\"\\=@;:,()-\n\r hexdword0123456789abcdefHKEY_LOCAL_MACHINE";
    for (int round = 0; round < 2000; ++round) {
        std::string text = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n";
        const int length = static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i)
            text += (round % 2) ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
        const Registry reg = Registry::parse(text);
        std::string value;
        try {
            GetKeyValue(reg, HKLM, "A", "x", value);
        } catch (const Failure&) {
            // an empty value is a legitimate outcome
        }
    }
}

TEST(Registry, RemovalLinesDropKeysAndTheirChildren)
{
    const Registry reg = Registry::parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n"
                                         "[HKEY_LOCAL_MACHINE\\A\\C]\n\"v\"=\"2\"\n"
                                         "[-HKEY_LOCAL_MACHINE\\A\\B]\n");
    EXPECT_EQ(lookup(reg, "A\\B", "v"), "");
    EXPECT_EQ(lookup(reg, "A\\C", "v"), "2");
}

void makeExecutable(const std::filesystem::path& path, bool executable = true)
{
    writeFile(path, "#!/bin/sh\nexit 0\n");
    ::chmod(path.c_str(), executable ? 0755 : 0644);
}

TEST(DefaultSystemReg, NamesAnInstalledSystemInformationProgram)
{
    test::TempDir prefix;
    test::TempDir binParent;
    // A folder name with a letter outside ASCII comes back as the same bytes.
    const std::filesystem::path bin = binParent / "caf\xC3\xA9";
    std::filesystem::create_directory(bin);
    makeExecutable(bin / "gnome-system-monitor");
    makeExecutable(bin / "hardinfo"); // preferred over the system monitor
    writeDefaultSystemReg(prefix.path(), {bin});

    const Registry reg = Registry::load(systemRegistryFile(prefix.path()));
    EXPECT_EQ(lookup(reg, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"), (bin / "hardinfo").string());
}

TEST(DefaultSystemReg, WritesNothingWithoutAProgramAndNeverOverwrites)
{
    test::TempDir prefix;
    test::TempDir bin;
    makeExecutable(bin / "kinfocenter", false); // not executable: not a candidate
    writeDefaultSystemReg(prefix.path(), {bin.path()});
    EXPECT_FALSE(std::filesystem::exists(prefix / "system.reg"));

    writeFile(prefix / "system.reg", "REGEDIT4\n; mine\n");
    makeExecutable(bin / "kinfocenter");
    writeDefaultSystemReg(prefix.path(), {bin.path()});
    std::ifstream in(prefix / "system.reg");
    const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "REGEDIT4\n; mine\n");

    // A prefix that does not exist is left alone: nothing is created there.
    writeDefaultSystemReg(prefix / "missing" / "deeper", {bin.path()});
    EXPECT_FALSE(std::filesystem::exists(prefix / "missing"));
}

} // namespace
} // namespace tarnveil
