// HTTP/2 against Debian's nghttpd: negotiated by default over TLS, kept
// with "reuse_connections", and refused by a request held to HTTP/1.1.
#include <string>

#include "http2/h2_server.h"
#include "support/json.h"
#include "support/library_fixture.h"

namespace {

std::string info_text(const char *key) {
    JsonDoc doc = parse_json(api_response_info_json());
    return json_str(yyjson_doc_get_root(doc.get()), key);
}

TEST(Http2, NegotiatedKeptAndRefusedOnRequest) {
    ASSERT_EQ(api_init(nullptr), 1);
    H2Server h2;
    h2.add_file("data.bin", std::string("h2\0body", 7));
    std::string ca = R"(,"ca_file":")" + h2.ca_file() + "\"";
    const std::string url = h2.url("/data.bin");
    for (const char *version : {"", R"(,"http_version":"2")"}) {
        ASSERT_EQ(api_request(url_config(url, ca + version).c_str()), 1) << version << api_last_error();
        EXPECT_EQ(info_text("http_version"), "2");
        EXPECT_EQ(std::string(api_response_body(), static_cast<std::size_t>(api_response_body_len())),
                  std::string("h2\0body", 7));
        EXPECT_FALSE(reused());
    }
    // This server speaks HTTP/2 alone: a request held to 1.1 gets nothing back.
    EXPECT_EQ(api_request(url_config(url, ca + R"(,"http_version":"1.1")").c_str()), 0);
    EXPECT_EQ(info_text("http_version"), "");

    ASSERT_EQ(api_configure(R"({"reuse_connections":true})"), 1);
    ASSERT_EQ(api_request(url_config(url, ca).c_str()), 1) << api_last_error();
    ASSERT_EQ(api_request(url_config(url, ca).c_str()), 1) << api_last_error();
    EXPECT_TRUE(reused());
    EXPECT_EQ(info_text("http_version"), "2");
    api_cleanup();
}

}  // namespace
