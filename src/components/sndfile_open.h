#pragma once

#include <sndfile.h>

#include <functional>
#include <string>

namespace tarnveil {

// libsndfile keeps what went wrong in an open in one place for the whole
// process, written while it opens and read back through sf_strerror(nullptr):
// two threads opening at once (a lane, the reader, the loudness worker) write
// over each other there. Every open goes through here, one at a time, and takes
// its own error text before the next begins. An open stuck on a dead share holds
// up the others until the share answers; they wait on their own threads.
//
// Runs `open`; returns its handle, or nullptr with libsndfile's text in `error`.
SNDFILE* openSndfile(const std::function<SNDFILE*()>& open, std::string& error);

} // namespace tarnveil
