#pragma once

#include "net/service_records.h"
#include "trans_text.h"

#include <string>
#include <vector>

// A share link opened for downloading: its access token and the item it shares.
struct OpenedLink {
    std::string token;
    DeliveryMetadata root;
};

// Authenticates the link and reads its root item through the transfer manager. False with the
// service's code and message when the link cannot be opened.
bool OpenLink(CTovuTransMgr& mgr, const std::string& serviceAddress, const std::string& code,
              const std::string& password, OpenedLink& link, FetchFailure& failure);

// The last segment of an item's path: the name it is saved under.
std::string ItemName(const DeliveryMetadata& item);

// One file of a link: where to fetch it (the token appended) and its path below the save folder.
struct LinkFile {
    std::string url;
    std::string relativePath;
};

// Every file of the link, depth first in the service's order. A name that is not a plain name
// (it would leave the save folder) fails the listing.
bool ListLinkFiles(CTovuTransMgr& mgr, const OpenedLink& link, std::vector<LinkFile>& files,
                   FetchFailure& failure);
