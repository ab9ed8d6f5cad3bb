#include "engine/delivery_url.h"

#include <gtest/gtest.h>

namespace {

TEST(DeliveryUrlTest, TaskAddressesGiveTheirServiceCodeAndToken) {
    struct Case {
        const char* address;
        const char* base;
        const char* code;
        const char* token;
    };
    const Case cases[] = {
        {"https://h:8443/v2/delivery/metadata/Ab12/sub/x.txt?token=T1", "https://h:8443", "Ab12",
         "T1"},
        {"http://h/v2/delivery/metadata/Ab12?token=a&b", "http://h", "Ab12", "a&b"},
        {"http://h/v2/delivery/metadata/Ab12#f", "http://h", "Ab12", ""},
        {"http://h/v2/delivery/metadata/?token=T", "http://h", "", "T"},
        {"http://h", "", "", ""},
        {"://h/v2/delivery/metadata/C", "", "C", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DeliveryServiceBase(c.address), c.base) << c.address;
        EXPECT_EQ(DeliveryCodeOf(c.address), c.code) << c.address;
        EXPECT_EQ(AddressToken(c.address), c.token) << c.address;
    }
}

TEST(DeliveryUrlTest, ATokenReplacesTheOldOneOrIsAdded) {
    const std::string bare = "https://h/v2/delivery/metadata/C/a%3Fb";
    EXPECT_EQ(WithAddressToken(bare + "?token=OLD", "NEW"), bare + "?token=NEW");
    EXPECT_EQ(WithAddressToken(bare, "NEW"), bare + "?token=NEW");
    EXPECT_EQ(WithAddressToken(bare + "?token=OLD", ""), bare);
}

} // namespace
