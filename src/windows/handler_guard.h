#pragma once

#include "platform/failure.h"

#include <exception>
#include <string>
#include <utility>

namespace tarnveil {

// Shows a failure that ends the program: a modal message box with the failure's
// number and description.
void showFatalFailure(const std::string& message);

// Ends the program after a failure that no handler caught: the message box, then
// the event loop ends with status 1.
void endProgramWithFailure(const std::string& message);

// Runs one event handler. Handlers that report their own failures catch them;
// whatever still escapes is fatal, and is shown before the program ends rather
// than unwinding through the event loop.
template <typename Handler>
void runHandler(Handler&& handler) noexcept
{
    try {
        std::forward<Handler>(handler)();
    } catch (const std::exception& error) {
        endProgramWithFailure(failureFromException(error).message());
    }
}

} // namespace tarnveil
