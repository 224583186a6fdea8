// api_collection_add with fuzzed folders and item JSON. The input is NUL
// separated: folder, item JSON, folder, item JSON, ... Invariants: each add
// succeeds exactly when the item is acceptable, and then stores the item
// JSON worked out independently; saving and loading keeps every item.
#include <cstdint>
#include <string>
#include <vector>

#include "collection_model.h"
#include "quorvane_apiclient.h"
#include "support.h"

namespace {

constexpr std::size_t max_adds = 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_reset();
    std::vector<std::string_view> pieces = fuzz_split(data, size, SIZE_MAX);
    std::vector<std::string> expected;
    for (std::size_t i = 0; i + 1 < pieces.size() && i < 2 * max_adds; i += 2) {
        std::string folder(pieces[i]);
        std::string json(pieces[i + 1]);
        // A NULL folder on every other add: it stands for the top level.
        const char *folder_arg = folder.empty() && i % 4 == 0 ? nullptr : folder.c_str();
        FuzzDoc doc = fuzz_parse(json);
        std::optional<std::string> want =
            json.empty() || !doc ? std::nullopt : expected_item_json(folder, yyjson_doc_get_root(doc.get()));
        int added = api_collection_add(folder_arg, json.c_str());
        FUZZ_CHECK(added == (want ? 1 : 0), "add of " + json + " under '" + folder + "' returned " +
                                                std::to_string(added) + ": " + api_last_error());
        if (!added) {
            FUZZ_CHECK(std::string(api_last_error()).rfind("api_collection_add: ", 0) == 0, api_last_error());
            continue;
        }
        expected.push_back(*want);
        std::string got = api_collection_get_json(static_cast<int>(expected.size() - 1));
        FUZZ_CHECK(got == *want, "stored " + got + "\nexpected " + *want);
    }
    FUZZ_CHECK(fuzz_collection_items() == expected, "the collection changed after the adds");

    const std::string saved = fuzz_temp_path("added.json");
    FUZZ_CHECK(api_collection_save(saved.c_str()) == 1, api_last_error());
    FUZZ_CHECK(api_collection_load(saved.c_str()) == 1, api_last_error());
    FUZZ_CHECK(fuzz_collection_items() == expected, "save then load changed the items");
    return 0;
}
