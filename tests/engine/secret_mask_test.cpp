#include "engine/secret_mask.h"

#include <gtest/gtest.h>

namespace {

TEST(SecretMaskTest, TokenValuesAreMasked) {
    const struct {
        const char* text;
        const char* masked;
    } cases[] = {
        {"https://h/v2/delivery/metadata/C/a?token=abc123",
         "https://h/v2/delivery/metadata/C/a?token=***"},
        {"u?x=1&token=abc&offset=100#f", "u?x=1&token=***&offset=100#f"},
        {"{\"metaurl\":\"https://h/m?token=abc\",\"a\":1}",
         "{\"metaurl\":\"https://h/m?token=***\",\"a\":1}"},
        {"'u?token=a''b'", "'u?token=***''b'"},
        {"{\"token\":\"t\\\"x\",\"uid\":1}", "{\"token\":\"***\",\"uid\":1}"},
        {"{\"access_token\" : \"zz\"}", "{\"access_token\" : \"***\"}"},
        {"token= tokens token\"x\" ?token=", "token= tokens token\"x\" ?token="},
        {"no secrets here", "no secrets here"},
        {"{\"token\":\"unterminated", "{\"token\":\"***"},
        {"password=abc%2b%3d&x=1", "password=***&x=1"},
        {"{\"password\":\"p\",\"token\":\"t\"}", "{\"password\":\"***\",\"token\":\"***\"}"},
        {"password=", "password="},
        // A task's protected password is a secret too.
        {"{\"group_id\":\"DD\",\"pass\":\"UFZYMQ==\"}", "{\"group_id\":\"DD\",\"pass\":\"***\"}"},
        {"bypass passes pass", "bypass passes pass"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MaskSecrets(c.text), c.masked) << c.text;
    }
}

} // namespace
