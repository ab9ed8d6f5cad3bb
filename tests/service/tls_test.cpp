#include "service_fixture.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

using service_testing::ServiceTest;

class TlsTest : public ServiceTest {
protected:
    void SetUp() override { StartService(service_testing::kScenario, true); }
};

TEST_F(TlsTest, ServesHttpsThatVerifiesAgainstItsCaFile) {
    ASSERT_EQ(Server().BaseUrl(), "https://127.0.0.1:" + std::to_string(Server().Port()));
    EXPECT_NE(testing_support::ReadFile(Server().CaFile()).find("-----BEGIN CERTIFICATE-----"),
              std::string::npos);

    // Client() verifies the certificate and the host name 127.0.0.1 with the CA file.
    auto client = Client();
    auto listing = client->Get(WithToken("/v2/delivery/metadata/L1").c_str());
    ASSERT_TRUE(listing) << httplib::to_string(listing.error());
    EXPECT_EQ(listing->status, 200);
    EXPECT_NE(listing->body.find("\"download_url\":\"" + Server().BaseUrl() +
                                 "/v2/delivery/download/L1\""),
              std::string::npos);
    auto part = client->Get(WithToken("/v2/delivery/download/L1/a.bin").c_str(),
                            {{"Range", "bytes=1000000-2048575"}});
    ASSERT_TRUE(part) << httplib::to_string(part.error());
    EXPECT_EQ(part->status, 206);
    EXPECT_TRUE(part->body ==
                parvex_service::FileContent("L1", "/Reports/a.bin", 1000000, 1048576));

    // Without the CA file the certificate is refused.
    httplib::Client stranger(Server().BaseUrl());
    stranger.enable_server_certificate_verification(true);
    auto refused = stranger.Get("/v2/support");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), httplib::Error::SSLServerVerification);
}

TEST_F(TlsTest, CutConnectionEndsOnlyThatExchange) {
    Server().AddFault(parvex_service::Fault::CutAfter("/v2/delivery/download/", 5000, 1));
    auto client = Client();
    std::string received;
    auto cut = client->Get(WithToken("/v2/delivery/download/L1/a.bin").c_str(),
                           {{"Range", "bytes=0-99999"}}, [&](const char* data, std::size_t length) {
                               received.append(data, length);
                               return true;
                           });
    EXPECT_FALSE(cut);
    EXPECT_EQ(received, parvex_service::FileContent("L1", "/Reports/a.bin", 0, 5000));
    auto next = client->Get("/v2/support");
    ASSERT_TRUE(next) << httplib::to_string(next.error());
    EXPECT_EQ(next->status, 200);
}

} // namespace
