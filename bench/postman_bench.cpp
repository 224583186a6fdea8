// Prints the cost of Postman import (plain and full) and export of a
// 2000-request collection nested four folders deep, beside the postman-collection SDK loading the same
// file (node, when installed), and of api_json_query: the first query into a
// 50 MB body beside a plain yyjson parse of that body, and 300 queries into a
// 2 MB body beside the first. All figures come from one run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <yyjson.h>

#include "apiclient/response.h"
#include "platform/platform.h"
#include "bench_util.h"
#include "quorvane_apiclient.h"

namespace {

void write_file(const std::string &path, const std::string &text) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

std::string request_json(int n) {
    std::string id = std::to_string(n);
    return R"({"name":"Request )" + id + R"(","request":{"method":"POST",)"
           R"("url":{"raw":"https://{{host}}/v1/orders/)" + id + R"(?expand=items&page=2","protocol":"https",)"
           R"("host":["{{host}}"],"path":["v1","orders",")" + id + R"("],)"
           R"("query":[{"key":"expand","value":"items"},{"key":"page","value":"2"}]},)"
           R"("header":[{"key":"Content-Type","value":"application/json"},{"key":"Accept","value":"application/json"},)"
           R"({"key":"X-Trace","value":"{{trace}}","disabled":true}],)"
           R"("body":{"mode":"raw","raw":"{\"sku\":\"A-)" + id + R"(\",\"qty\":2}","options":{"raw":{"language":"json"}}},)"
           R"("auth":{"type":"bearer","bearer":[{"key":"token","value":"{{token}}","type":"string"}]}}})";
}

// 2 x 5 x 5 x 4 folders, ten requests in each of the 200 innermost ones.
std::string collection_file() {
    const int fan[] = {2, 5, 5, 4};
    int next = 0;
    std::string out = R"({"info":{"name":"bench","schema":"https://schema.getpostman.com/json/collection/v2.1.0/collection.json"},"item":[)";
    auto level = [&](auto &&self, int depth) -> void {
        if (depth == 4) {
            for (int i = 0; i < 10; ++i) {
                if (i) out += ',';
                out += request_json(next++);
            }
            return;
        }
        for (int i = 0; i < fan[depth]; ++i) {
            if (i) out += ',';
            out += R"({"name":"Folder )";
            out += std::to_string(depth) + "." + std::to_string(i);
            out += R"(","item":[)";
            self(self, depth + 1);
            out += "]}";
        }
    };
    level(level, 0);
    return out + "]}";
}

// Median milliseconds of the SDK loading the file, or a negative number when
// node or the SDK is not there.
double sdk_load_ms(const std::string &path, int rounds) {
    std::string command = "node '" QV_SOURCE_DIR "/bench/postman_sdk_bench.js' '" + path + "' " + std::to_string(rounds) +
                          " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char out[512] = "";
    std::size_t n = std::fread(out, 1, sizeof out - 1, pipe);
    out[n] = '\0';
    if (pclose(pipe) != 0) return -1;
    const char *median_key = std::strstr(out, "\"median_ms\":");
    return median_key ? std::atof(median_key + 12) : -1;
}

void bench_postman(const std::string &dir) {
    std::string in = dir + "/in.json";
    std::string out = dir + "/out.json";
    std::string text = collection_file();
    write_file(in, text);
    const int rounds = 15;
    std::string saved = dir + "/saved.json";
    std::vector<double> import_ms, export_ms, full_ms, round_ms;
    for (int r = 0; r < rounds; ++r) {
        auto start = clock_type::now();
        if (!api_import_postman(in.c_str()) || api_collection_count() != 2000) {
            std::fprintf(stderr, "import failed: %s\n", api_last_error());
            std::exit(1);
        }
        import_ms.push_back(millis_since(start));
        start = clock_type::now();
        if (!api_export_postman(out.c_str())) {
            std::fprintf(stderr, "export failed: %s\n", api_last_error());
            std::exit(1);
        }
        export_ms.push_back(millis_since(start));
        start = clock_type::now();
        if (!api_import_postman_full(in.c_str()) || api_collection_count() != 2000) {
            std::fprintf(stderr, "full import failed: %s\n", api_last_error());
            std::exit(1);
        }
        full_ms.push_back(millis_since(start));
        // A host's round trip: the full import above, the collection file,
        // a load in a fresh session, the full export.
        start = clock_type::now();
        bool kept = api_collection_save(saved.c_str()) && api_init(nullptr) && api_collection_load(saved.c_str()) &&
                    api_export_postman_full(out.c_str());
        if (!kept) {
            std::fprintf(stderr, "round trip failed: %s\n", api_last_error());
            std::exit(1);
        }
        round_ms.push_back(millis_since(start) + full_ms.back());
    }
    // The part of the export that is the flushed file replacement alone.
    std::uint64_t size = 0;
    char *exported = ac_read_file(out.c_str(), &size);
    std::vector<double> file_ms;
    for (int r = 0; r < rounds && exported; ++r) {
        auto start = clock_type::now();
        ac_write_file_atomic(out.c_str(), exported, size);
        file_ms.push_back(millis_since(start));
    }
    std::free(exported);
    double imp = median(import_ms), exp = median(export_ms), full = median(full_ms);
    double sdk = sdk_load_ms(in, rounds);
    std::printf("postman: file of 2000 requests, 4 folder levels, %zu bytes\n", text.size());
    std::printf("postman: api_import_postman       %8.2f ms (median of %d)\n", imp, rounds);
    std::printf("postman: api_export_postman       %8.2f ms, %.2fx the import (goal <= 1)\n", exp, exp / imp);
    if (!file_ms.empty()) {
        std::printf("postman:   of which replacing the %ju-byte file (ac_write_file_atomic) %.2f ms\n",
                    static_cast<std::uintmax_t>(size), median(file_ms));
    }
    std::printf("postman: api_import_postman_full  %8.2f ms, %.2fx the plain import (the price of fidelity)\n", full,
                full / imp);
    std::printf("postman: full import + save + load + full export %8.2f ms, %.2fx the full import\n", median(round_ms),
                median(round_ms) / full);
    if (sdk >= 0) {
        std::printf("postman: SDK new Collection + walk %8.2f ms, %.1fx the import, %.1fx the full import\n", sdk,
                    sdk / imp, sdk / full);
    } else {
        std::printf("postman: SDK not measured (node or tests/interop/node_modules missing; run scripts/interop-install)\n");
    }
}

// About 50 MB: an object whose "data" array holds records of a few fields.
std::string big_body() {
    std::string body = R"({"meta":{"count":0},"data":[)";
    body.reserve(52u << 20);
    for (int i = 0; body.size() < (50u << 20); ++i) {
        std::string id = std::to_string(i);
        if (i) body += ',';
        body += R"({"id":)";
        body += id;
        body += R"(,"name":"item )";
        body += id;
        body += R"(","price":12.5,"tags":["a","b\u00e9"],"active":true,"note":null})";
    }
    return body + "]}";
}

void set_body(const std::string &body) {
    clear_response_buffers();
    g_response_body.append(body.data(), body.size());
}

double plain_parse_ms(const std::string &body, std::size_t &sink) {
    auto start = clock_type::now();
    yyjson_doc *doc = yyjson_read_opts(const_cast<char *>(body.data()), body.size(), 0, nullptr, nullptr);
    sink += yyjson_doc_get_val_count(doc);
    yyjson_doc_free(doc);
    return millis_since(start);
}

// The first query into a body parses it: against a plain parse of a 50 MB
// body. Later queries into the same body reuse that parse: 300 queries into
// a 2 MB body against the first one, and against 300 plain parses (what a
// query that parsed every time would cost at least).
void bench_query() {
    std::string body = big_body();
    const int rounds = 9;
    std::vector<double> query_ms, parse_ms;
    std::size_t sink = 0;
    for (int r = 0; r < rounds; ++r) {
        set_body(body);
        parse_ms.push_back(plain_parse_ms(body, sink));
        auto start = clock_type::now();
        sink += std::strlen(api_json_query("$.data[100000].tags"));
        query_ms.push_back(millis_since(start));
    }
    double q = median(query_ms), p = median(parse_ms);
    std::printf("query: body of %.1f MB (%zu)\n", static_cast<double>(body.size()) / (1 << 20), sink);
    std::printf("query: plain yyjson parse          %8.2f ms (median of %d)\n", p, rounds);
    std::printf("query: first api_json_query        %8.2f ms, %.3fx the parse (goal <= 1.2)\n", q, q / p);

    body.resize(2u << 20);
    body.resize(body.rfind("},{") + 1);
    body += "]}";
    const int queries = 300;
    std::vector<double> ratios, first_ms, parses_ms;
    for (int r = 0; r < rounds; ++r) {
        set_body(body);
        auto start = clock_type::now();
        sink += std::strlen(api_json_query("$.data[100].tags"));
        double first = millis_since(start);
        for (int i = 1; i < queries; ++i) sink += std::strlen(api_json_query(i % 2 ? "$.data[7].name" : "/meta/count"));
        double all = millis_since(start);
        double parses = 0;
        for (int i = 0; i < queries; ++i) parses += plain_parse_ms(body, sink);
        ratios.push_back(all / first);
        first_ms.push_back(first);
        parses_ms.push_back(parses);
    }
    std::printf("query: %d queries into a %.1f MB body: %.2f ms, %.1fx the first (%.2f ms; goal < 30);"
                " %d plain parses %.2f ms\n",
                queries, static_cast<double>(body.size()) / (1 << 20), median(ratios) * median(first_ms),
                median(ratios), median(first_ms), queries, median(parses_ms));
}

}  // namespace

int main() {
    std::string dir = make_temp_dir();
    bench_postman(dir);
    bench_query();
    api_cleanup();
    std::filesystem::remove_all(dir);
    return 0;
}
