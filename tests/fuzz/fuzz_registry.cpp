// The system.reg parser and the About window's two look-ups on what it parsed.
// GetKeyValue answers -1 or 0, or fails only for an empty value; a text value
// comes back without its terminator and a number as "&h" and hex digits.

#include "fuzz_support.h"
#include "platform/failure.h"
#include "platform/registry.h"

#include <string_view>

using tarnveil::Registry;
using tarnveil::fuzz::expect;

namespace {

void lookUp(const Registry& registry, const std::string& key, const std::string& value)
{
    std::string text = "untouched";
    int16_t found = 0;
    try {
        found = tarnveil::GetKeyValue(registry, Registry::HKEY_LOCAL_MACHINE, key, value, text);
    } catch (const tarnveil::Failure& failure) {
        expect(failure.code() == tarnveil::FailureCode::InvalidArgument, "GetKeyValue failed for another reason");
        return;
    }
    expect(found == 0 || found == -1, "GetKeyValue's result is not a flag");
    if (found == 0) {
        expect(text.empty(), "a failed look-up left text behind");
        return;
    }
    Registry::KeyHandle handle = nullptr;
    expect(registry.openKey(Registry::HKEY_LOCAL_MACHINE, key, 0, 0x2003F, handle) == Registry::ERROR_SUCCESS,
           "GetKeyValue found a key that does not open");
    uint32_t type = 0;
    uint32_t size = 0;
    expect(registry.queryValue(handle, value, type, nullptr, size) == Registry::ERROR_SUCCESS,
           "GetKeyValue found a value that cannot be queried");
    expect(size > 0 && size <= 1024, "GetKeyValue read an empty or oversized value");
    if (type == Registry::REG_SZ)
        expect(text.size() == size || text.size() == size - 1, "text value cut wrongly");
    else if (type == Registry::REG_DWORD)
        expect(text.starts_with("&h") && text.size() <= 2 + 2 * size, "number not shown as &h and hex digits");
    else
        expect(text == "untouched", "a value of another type changed the caller's text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Registry registry = Registry::parse(text);

    lookUp(registry, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH");
    lookUp(registry, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO");
    lookUp(registry, "software\\microsoft\\shared tools\\msinfo\\", "path");
    lookUp(registry, "", "");

    // Parsing is a pure function of the text.
    expect(Registry::parse(text).keyCount() == registry.keyCount(), "parsing the same text twice differs");
    return 0;
}
