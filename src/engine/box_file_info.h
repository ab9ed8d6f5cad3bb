#pragma once

#include <cstdint>
#include <string>

// Where an item lives on the service.
struct BoxFileInfo {
    std::string path;     // service path; for a link item the address form (begins with "http")
    std::string pathtype; // the storage area the path belongs to
    std::string neid;     // the service's entry id
    std::string prefixneid;
    std::string from;
    std::string rev;            // revision; for a sub-task the fingerprint of its summary
    std::string metaurl;        // metadata address; a link's contains "/delivery/metadata/<code>"
    std::string remaincounturl; // answers the link's remaining download count
    std::uint64_t size = 0;

    bool operator==(const BoxFileInfo&) const = default;
};

// The item on this computer.
struct LocalFileInfo {
    std::string path; // full local file path
    std::uint64_t size = 0;
    std::string time; // modification time given by the upload side; empty for downloads

    bool operator==(const LocalFileInfo&) const = default;
};
