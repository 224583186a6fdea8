// Prints the cost of the history and collection stores' heavy operations:
// one recording with a full history and a storage directory (the whole
// history.json rewritten and flushed each time), 2000 collection adds, and
// saving and loading a full 2000-item collection file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "collection/collection.h"
#include "bench_util.h"
#include "quorvane_apiclient.h"

namespace {

double micros_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
}

const char sample_item[] =
    R"({"name":"Create order","method":"POST","url":"https://api.example.test/v1/orders?expand=items",)"
    R"("body":"{\"sku\":\"A-1\",\"qty\":2}","body_type":"json",)"
    R"("headers":{"Accept":"application/json","X-Trace":"{{trace}}"},"auth":{"type":"bearer","token":"{{token}}"}})";

void bench_history(const std::string &dir) {
    if (!api_init(dir.c_str())) std::exit(1);
    for (int i = 0; i < 500; ++i) {
        std::string json = R"({"method":"GET","url":"https://api.example.test/v1/items/)" + std::to_string(i) +
                           R"(?page=1","status":200})";
        api_history_add(json.c_str());
    }
    const int rounds = 200;
    auto start = clock_type::now();
    for (int i = 0; i < rounds; ++i) api_history_add(R"({"method":"POST","url":"https://api.example.test/v1/orders"})");
    double add_us = micros_since(start) / rounds;
    start = clock_type::now();
    for (int i = 0; i < rounds; ++i) api_history_list_json(0);
    double list_us = micros_since(start) / rounds;
    std::printf("history: api_history_add, 500 entries, file rewritten: %10.1f us/call (file %ju bytes)\n", add_us,
                static_cast<std::uintmax_t>(std::filesystem::file_size(dir + "/history.json")));
    std::printf("history: api_history_list_json(0), 500 entries:          %10.1f us/call\n", list_us);
    api_cleanup();
}

void bench_collection(const std::string &dir) {
    if (!api_init(nullptr)) std::exit(1);
    const int rounds = 20;
    double add_us = 0;
    for (int r = 0; r < rounds; ++r) {
        ac_collection_init();
        auto start = clock_type::now();
        for (int i = 0; i < max_collection_items; ++i) api_collection_add("Orders/Write", sample_item);
        add_us += micros_since(start);
    }
    std::string path = dir + "/collection.json";
    double save_us = 0, load_us = 0;
    for (int r = 0; r < rounds; ++r) {
        auto start = clock_type::now();
        if (!api_collection_save(path.c_str())) std::exit(1);
        save_us += micros_since(start);
        start = clock_type::now();
        if (!api_collection_load(path.c_str()) || api_collection_count() != max_collection_items) std::exit(1);
        load_us += micros_since(start);
    }
    std::printf("collection: 2000 x api_collection_add:                   %10.1f us\n", add_us / rounds);
    std::printf("collection: api_collection_save, 2000 items:             %10.1f us (file %ju bytes)\n",
                save_us / rounds, static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
    std::printf("collection: api_collection_load, 2000 items:             %10.1f us\n", load_us / rounds);
    api_cleanup();
}

}  // namespace

int main() {
    std::string dir = make_temp_dir();
    bench_history(dir);
    bench_collection(dir);
    std::filesystem::remove_all(dir);
    return 0;
}
