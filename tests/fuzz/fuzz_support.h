#pragma once

// Helpers shared by the fuzz targets: a scratch folder that lives as long as the
// fuzzing process, and whole-file reads and writes that fail loudly (a fuzz
// target that cannot set up its files must not report a clean run).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace tarnveil::fuzz {

// Stops the run with a message: used for violated expectations, so that
// libFuzzer keeps the input that caused it.
[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "fuzz expectation failed: %s\n", what);
    std::abort();
}

inline void expect(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

// One folder per process, in memory when the system offers it, removed at exit.
inline const std::filesystem::path& scratchFolder()
{
    static const std::filesystem::path folder = [] {
        std::error_code ignored;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ignored)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        std::string pattern = (base / "tarnveil-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            fail("cannot create the scratch folder");
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(scratchFolder(), error);
        });
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// A prefix whose drive L: is an empty logger drive in the scratch folder;
// returns the drive's root.
inline std::filesystem::path makeLoggerDrive(const std::filesystem::path& prefix)
{
    const std::filesystem::path drive = scratchFolder() / "logger-drive";
    std::filesystem::create_directories(prefix / "dosdevices");
    std::filesystem::create_directories(drive / "logger" / "logs");
    std::filesystem::create_directory_symlink(drive, prefix / "dosdevices" / "l:");
    return drive;
}

inline void writeFile(const std::filesystem::path& file, const uint8_t* data, size_t size)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out)
        fail("cannot write a scratch file");
}

inline std::vector<uint8_t> readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail("cannot read a scratch file back");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace tarnveil::fuzz
