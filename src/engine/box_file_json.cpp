#include "engine/box_file_json.h"

#include "engine/json_fields.h"

BoxFileInfo ReadBoxFileFields(const rapidjson::Value& object, const char* remainCountKey) {
    using namespace json_fields;
    BoxFileInfo box;
    box.path = ReadText(object, "path");
    box.pathtype = ReadText(object, "pathtype");
    box.neid = ReadText(object, "neid");
    box.prefixneid = ReadText(object, "prefixneid");
    box.from = ReadText(object, "from");
    box.rev = ReadText(object, "rev");
    box.size = ReadUint64(object, "size");
    box.metaurl = ReadText(object, "metaurl");
    box.remaincounturl = ReadText(object, remainCountKey);
    return box;
}
