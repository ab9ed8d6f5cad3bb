#pragma once

#include "engine/box_file_info.h"

#include <rapidjson/document.h>

// The nine fields of a box file from a JSON object, each missing one reading as empty or 0. The
// stored records name the remaining-count address "remaincounturl"; the service's item records
// name it "remain_download".
BoxFileInfo ReadBoxFileFields(const rapidjson::Value& object, const char* remainCountKey);
