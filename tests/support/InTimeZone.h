#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace kestova::testing {

// Runs with the time zone given (a POSIX rule, so that no zone database is needed) and puts the
// one of the process back afterwards.
class InTimeZone {
  public:
    explicit InTimeZone(const char* zone) {
        if (const char* previous = std::getenv("TZ")) {
            previous_ = previous;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~InTimeZone() {
        if (previous_) {
            ::setenv("TZ", previous_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    InTimeZone(const InTimeZone&) = delete;
    InTimeZone& operator=(const InTimeZone&) = delete;

  private:
    std::optional<std::string> previous_;
};

}  // namespace kestova::testing
