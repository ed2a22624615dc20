#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace tarnveil::test {

// The time zone of a test, put back afterwards.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        if (const char* before = std::getenv("TZ"))
            saved_ = before;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    std::optional<std::string> saved_;
};

} // namespace tarnveil::test
