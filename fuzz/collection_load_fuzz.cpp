// api_collection_load on a fuzzed collection file. Invariants: a failed
// load keeps the old collection; a load keeps exactly the elements that
// api_collection_add would take, as item JSON worked out independently; and
// saving the collection, then loading the file, gives the same items.
#include <cstdint>
#include <string>
#include <vector>

#include "collection_model.h"
#include "quorvane_apiclient.h"
#include "support.h"

namespace {

// The array the load takes its elements from, as the format is documented.
yyjson_val *requests_of(yyjson_val *root) {
    if (yyjson_is_arr(root)) return root;
    if (yyjson_val *requests = yyjson_obj_get(root, "requests")) return yyjson_is_arr(requests) ? requests : nullptr;
    yyjson_val *item = yyjson_obj_get(root, "item");
    return yyjson_is_arr(item) ? item : nullptr;
}

std::vector<std::string> expected_items(yyjson_val *requests) {
    std::vector<std::string> items;
    std::size_t idx, max;
    yyjson_val *element;
    yyjson_arr_foreach(requests, idx, max, element) {
        if (items.size() == model_max_items) break;
        std::string folder = yyjson_is_obj(element) ? fuzz_cstr_member(element, "folder", "") : "";
        if (auto item = expected_item_json(folder, element)) items.push_back(*item);
    }
    return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_reset();
    fuzz_add_kept_item();
    const std::string path = fuzz_temp_path("collection.json");
    fuzz_write_file(path, data, size);

    FuzzDoc doc = fuzz_parse(std::string_view(reinterpret_cast<const char *>(data), size));
    yyjson_val *requests = doc ? requests_of(yyjson_doc_get_root(doc.get())) : nullptr;
    int loaded = api_collection_load(path.c_str());
    std::vector<std::string> items = fuzz_collection_items();
    if (!requests) {
        FUZZ_CHECK(loaded == 0, "a file without a requests array was loaded");
        FUZZ_CHECK(std::string(api_last_error()).rfind("api_collection_load: ", 0) == 0, api_last_error());
        FUZZ_CHECK(fuzz_only_kept_item(), "a failed load changed the collection:\n" + fuzz_listing(items));
        return 0;
    }
    FUZZ_CHECK(loaded == 1, api_last_error());
    std::vector<std::string> expected = expected_items(requests);
    FUZZ_CHECK(items == expected, "loaded:\n" + fuzz_listing(items) + "expected:\n" + fuzz_listing(expected));

    const std::string saved = fuzz_temp_path("saved.json");
    FUZZ_CHECK(api_collection_save(saved.c_str()) == 1, api_last_error());
    // An extra item that the load must drop: it replaces, never appends.
    if (items.size() < model_max_items) FUZZ_CHECK(api_collection_add("", "{}") == 1, api_last_error());
    FUZZ_CHECK(api_collection_load(saved.c_str()) == 1, api_last_error());
    std::vector<std::string> again = fuzz_collection_items();
    FUZZ_CHECK(again == items, "saved then loaded:\n" + fuzz_listing(again) + "before:\n" + fuzz_listing(items));
    return 0;
}
