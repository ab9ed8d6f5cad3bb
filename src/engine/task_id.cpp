#include "engine/task_id.h"

#include <algorithm>

namespace {

constexpr std::size_t kTaskIdLength = 32;

} // namespace

bool IsTaskId(std::string_view id) {
    return id.size() == kTaskIdLength && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}
