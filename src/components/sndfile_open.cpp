#include "components/sndfile_open.h"

#include <mutex>

namespace tarnveil {

SNDFILE* openSndfile(const std::function<SNDFILE*()>& open, std::string& error)
{
    static std::mutex oneAtATime;
    const std::lock_guard lock(oneAtATime);
    SNDFILE* handle = open();
    if (handle == nullptr)
        error = sf_strerror(nullptr);
    return handle;
}

} // namespace tarnveil
