// Process-wide increasing sequence numbers, starting at 1 and stopping at 0xFFFFFFFE.
#pragma once

#include <cstdint>

#include "oxl/runtime/TestHook.h"

namespace oxl::common {

class SequenceNumber {
  public:
    static constexpr std::uint32_t MAX_VALUE = 0xFFFFFFFEu;

    // Thread-safe. Once MAX_VALUE has been handed out it is returned again (with a log line) every time.
    static std::uint32_t getSequenceNumber();

    // Test seam: sets the last number handed out.
    OXL_TEST_HOOK static void setCounterForTesting(std::uint32_t value);
};

}  // namespace oxl::common
