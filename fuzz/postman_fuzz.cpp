// api_import_postman on a fuzzed Postman file, then api_export_postman and
// api_import_postman of the export. Invariants: an import fails exactly when
// the file is not an object with an "item" array, and then keeps the old
// collection; exporting and importing again keeps the number of items and
// their names, methods and URLs; a second export writes the same file.
#include <cstdint>
#include <string>
#include <vector>

#include "quorvane_apiclient.h"
#include "support.h"

namespace {

struct Key {
    std::string name, method, url;
    bool operator==(const Key &) const = default;
};

std::vector<Key> keys(const std::vector<std::string> &items) {
    std::vector<Key> out;
    for (const std::string &item : items) {
        FuzzDoc doc = fuzz_parse(item);
        yyjson_val *obj = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
        FUZZ_CHECK(yyjson_is_obj(obj), "item JSON " + item);
        out.push_back({fuzz_cstr_member(obj, "name", "?"), fuzz_cstr_member(obj, "method", "?"),
                       fuzz_cstr_member(obj, "url", "?")});
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_reset();
    fuzz_add_kept_item();
    const std::string path = fuzz_temp_path("postman.json");
    fuzz_write_file(path, data, size);

    FuzzDoc doc = fuzz_parse(std::string_view(reinterpret_cast<const char *>(data), size));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    bool importable = yyjson_is_arr(yyjson_obj_get(root, "item"));
    int imported = api_import_postman(path.c_str());
    std::vector<std::string> first = fuzz_collection_items();
    FUZZ_CHECK(imported == (importable ? 1 : 0),
               "api_import_postman returned " + std::to_string(imported) + ": " + api_last_error());
    if (!imported) {
        FUZZ_CHECK(std::string(api_last_error()).rfind("api_import_postman: ", 0) == 0, api_last_error());
        FUZZ_CHECK(fuzz_only_kept_item(), "a failed import changed the collection:\n" + fuzz_listing(first));
        return 0;
    }

    const std::string exported = fuzz_temp_path("exported.json");
    FUZZ_CHECK(api_export_postman(exported.c_str()) == 1, api_last_error());
    const std::string export_text = fuzz_read_file(exported);
    FUZZ_CHECK(api_import_postman(exported.c_str()) == 1, api_last_error());
    std::vector<std::string> second = fuzz_collection_items();
    FUZZ_CHECK(second.size() == first.size(), "exported " + std::to_string(first.size()) + " items, imported " +
                                                  std::to_string(second.size()) + "\n" + export_text);
    FUZZ_CHECK(keys(second) == keys(first),
               "imported:\n" + fuzz_listing(first) + "after export and import:\n" + fuzz_listing(second));

    FUZZ_CHECK(api_export_postman(exported.c_str()) == 1, api_last_error());
    std::string again = fuzz_read_file(exported);
    FUZZ_CHECK(again == export_text, "the second export differs:\n" + export_text + "\n----\n" + again);
    return 0;
}
