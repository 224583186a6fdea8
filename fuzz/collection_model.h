// What api_collection_add and a collection load should make of item JSON,
// worked out independently of the library, for the collection targets.
#pragma once

#include <optional>
#include <string>

#include <yyjson.h>

// Deeper "headers" or "auth" values are refused.
constexpr int model_max_depth = 64;
constexpr int model_max_items = 2000;

// The item JSON text api_collection_get_json should return for an item
// added from `root` under `folder`, or nothing when the item is refused.
std::optional<std::string> expected_item_json(const std::string &folder, yyjson_val *root);
