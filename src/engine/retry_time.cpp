#include "engine/retry_time.h"

#include "engine/engine_clock.h"
#include "engine/engine_context.h"
#include "engine/message_texts.h"

namespace {

constexpr std::uint64_t kOneYear = 31536000;

std::uint64_t RetryDelay(std::int32_t errorCode) {
    if ((errorCode >= 20004 && errorCode <= 20007) ||
        errorCode == engine_code::kInvalidNameFromServer ||
        errorCode == engine_code::kWrongRangeFromServer ||
        errorCode == engine_code::kEndlessListing || errorCode == engine_code::kLinkReopenRefused) {
        return kOneYear;
    }
    if (errorCode == engine_code::kNeedRetryParts) {
        return 2;
    }
    return 30;
}

} // namespace

std::uint64_t TaskRetryTime(std::int32_t errorCode) {
    if (!GetEngineContext().settings.AutoRetry()) {
        return kRetryTimeDueNow;
    }
    return EngineNow() / 1000 + RetryDelay(errorCode);
}
