#pragma once

#include "platform/SystemValues.h"

namespace kestova::testing {

// System values that hold whatever a test puts in them.
class FakeSystemValues : public platform::SystemValues {
  public:
    platform::StoredValue language;
    platform::StoredValue version;
    platform::StoredValue serviceVersion;

    platform::StoredValue installLanguage() const override { return language; }
    platform::StoredValue browserVersion() const override { return version; }
    platform::StoredValue browserServiceVersion() const override { return serviceVersion; }
};

}  // namespace kestova::testing
