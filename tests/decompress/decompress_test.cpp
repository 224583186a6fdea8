// "decompress" on the wire, with bodies made here by the encoders whose
// decoders Debian's libcurl has.
#include <string>

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include "request/request_fixture.h"
#include "support/json.h"

namespace {

std::string gzip_like(const std::string &plain, int window_bits) {
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(plain.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.data()));
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string brotli(const std::string &plain) {
    std::size_t n = BrotliEncoderMaxCompressedSize(plain.size());
    std::string out(n, '\0');
    BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, plain.size(),
                          reinterpret_cast<const uint8_t *>(plain.data()), &n, reinterpret_cast<uint8_t *>(out.data()));
    out.resize(n);
    return out;
}

std::string zstd(const std::string &plain) {
    std::string out(ZSTD_compressBound(plain.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), plain.data(), plain.size(), 3));
    return out;
}

// Every encoding Debian's libcurl decodes, with bytes made here.
TEST_F(RequestTest, DecompressAsksForAndDecodesEveryEncoding) {
    std::string plain;
    for (int i = 0; i < 2000; ++i) plain += R"({"id":)" + std::to_string(i) + R"(,"name":"item"},)";
    struct Case {
        const char *encoding;
        std::string bytes;
    } cases[] = {{"gzip", gzip_like(plain, 31)}, {"deflate", gzip_like(plain, 15)}, {"br", brotli(plain)},
                 {"zstd", zstd(plain)}};
    for (const Case &c : cases) {
        ASSERT_LT(c.bytes.size(), plain.size() / 4) << c.encoding;
        std::string reply = http_response(200, c.bytes, "Content-Encoding: " + std::string(c.encoding) + "\r\n");
        for (bool decompress : {false, true}) {
            ASSERT_EQ(api_configure(decompress ? R"({"decompress":true})" : R"({"decompress":false})"), 1);
            server.enqueue(reply);
            ASSERT_EQ(send(R"({"url":"$B/z"})"), 1) << c.encoding << api_last_error();
            HttpRequest r = last_request();
            const std::string &expected = decompress ? plain : c.bytes;
            EXPECT_EQ(std::string(api_response_body(), static_cast<std::size_t>(api_response_body_len())), expected)
                << c.encoding << decompress;
            EXPECT_NE(std::string(api_response_headers_json()).find("\"content-encoding\":\"" + std::string(c.encoding)),
                      std::string::npos);
            std::string accepted = r.header("Accept-Encoding");
            if (decompress) {
                for (const char *name : {"gzip", "deflate", "br", "zstd"}) {
                    EXPECT_NE(accepted.find(name), std::string::npos) << accepted;
                }
            } else {
                EXPECT_EQ(r.header_count("Accept-Encoding"), 0u);
            }
            // The bytes on the wire, not the decoded ones.
            JsonDoc info = parse_json(api_response_info_json());
            yyjson_val *root = yyjson_doc_get_root(info.get());
            EXPECT_EQ(yyjson_get_sint(yyjson_obj_get(root, "bytes_received")) -
                          yyjson_get_sint(yyjson_obj_get(root, "header_bytes")),
                      static_cast<long long>(c.bytes.size()));
        }
    }
}

}  // namespace
