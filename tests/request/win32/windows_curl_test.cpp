// What the Windows build's libcurl (scripts/win-deps) brings to the transport
// options: gzip and deflate decoding through zlib, and no HTTP/2 or brotli
// and zstd decoding, which Debian does not build for mingw.
#include <string>

#include "request/request_fixture.h"

namespace {

TEST_F(RequestTest, DecodesGzipAndDeflateOnlyAndHasNoHttp2) {
    std::string plain;
    for (int i = 0; i < 8; ++i) plain += "quorvane ";
    // `plain` encoded by Python's gzip (mtime 0) and zlib modules.
    const struct {
        const char *encoding;
        std::string body;
        bool decoded;
    } cases[] = {
        {"gzip",
         std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x2b\x2c\xcd\x2f\x2a\x4b\xcc\x4b\x55\x28\xa4\x8c\x01"
                     "\x00\xc0\x61\x12\x76\x48\x00\x00\x00",
                     32),
         true},
        {"deflate",
         std::string("\x78\xda\x2b\x2c\xcd\x2f\x2a\x4b\xcc\x4b\x55\x28\xa4\x8c\x01\x00\x1e\x20\x1c\x89", 20), true},
        {"br", "\x0b\x23\x80quorvane \x03", false},
    };
    ASSERT_EQ(api_configure(R"({"decompress":true})"), 1);
    for (const auto &c : cases) {
        server.set_default(http_response(200, c.body, std::string("Content-Encoding: ") + c.encoding + "\r\n"));
        EXPECT_EQ(send(R"({"url":"$B/z"})"), c.decoded ? 1 : 0) << c.encoding << api_last_error();
        EXPECT_EQ(last_request().header("Accept-Encoding"), "deflate, gzip");
        if (c.decoded) {
            EXPECT_EQ(std::string(api_response_body()), plain) << c.encoding;
        } else {
            EXPECT_STREQ(api_last_error(),
                         "api_request: curl error (61): Unrecognized or bad HTTP Content or Transfer-Encoding");
        }
    }
    server.clear_requests();
    EXPECT_EQ(send(R"({"url":"$B/h2","http_version":"2"})"), 0);
    EXPECT_STREQ(api_last_error(), "api_request: HTTP/2 is not available in this build");
    EXPECT_EQ(server.request_count(), 0u);
}

}  // namespace
