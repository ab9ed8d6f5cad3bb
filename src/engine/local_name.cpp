#include "engine/local_name.h"

std::string TempName(std::string_view name) {
    std::string temp(name);
    temp.append(kTempSuffix);
    return temp;
}

bool HasTempSuffix(std::string_view name) {
    return name.ends_with(kTempSuffix);
}

std::string NumberedName(std::string_view name, int number, bool isFolder) {
    const std::string tag = " (" + std::to_string(number) + ")";
    if (isFolder || HasTempSuffix(name)) {
        return std::string(name) + tag;
    }
    const std::size_t dot = name.rfind('.');
    const std::size_t stemEnd = dot != std::string_view::npos && dot > 0 ? dot : name.size();
    return std::string(name.substr(0, stemEnd)) + tag + std::string(name.substr(stemEnd));
}
