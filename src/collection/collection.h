// The collection of saved requests.
#pragma once

#include <cstddef>

#include <yyjson.h>

constexpr int max_collection_items = 2000;
// "headers" and "auth" values nested deeper are refused: the pretty-printed
// collection file would grow with the square of the depth.
constexpr std::size_t max_member_depth = 64;

// One saved request. Every member is a heap text owned by the item; headers
// and auth hold compact JSON text of a value of any type.
struct CollectionItem {
    char *folder;
    char *name;
    char *method;
    char *url;
    char *headers;
    char *body;
    char *body_type;
    char *auth;
    // Sent as described ("verbatim": true in the item JSON); most items leave it out.
    bool verbatim;
    // Compact JSON text of the item's "postman" member: what the full import
    // kept of the request item as its file wrote it (see postman_full.h), with
    // "sent", the fingerprint of the request fields made from it. NULL when
    // the item has none.
    char *postman;
};

// Changes whenever the collection is emptied or replaced (not when an item is
// added), so that what belongs to one collection can tell it is still current.
unsigned long ac_collection_generation() noexcept;

// Empties the collection; the get_json result buffer stays.
void ac_collection_init() noexcept;
// Empties the collection and releases the result buffer.
void ac_collection_cleanup() noexcept;

// Releases the item's texts and clears it to all-null.
void free_collection_item(CollectionItem *item) noexcept;

// Adds one item from parsed item JSON `root` (any value; only an object is
// taken) under `folder` (NULL or "" for the top level), with the checks and
// messages of api_collection_add. Returns 1 when the item was added.
int ac_collection_add_value(const char *folder, yyjson_val *root) noexcept;

// Replaces the collection with the items of `elements` (an array of item
// JSON objects, each with its own "folder"), dropping refused elements with
// their api_collection_add message; *added (may be NULL) receives how many
// were taken. `document` (may be NULL) becomes the collection's document.
// All or nothing: false when memory runs out, with the collection unchanged.
bool ac_collection_replace(yyjson_val *elements, int *added = nullptr, yyjson_val *document = nullptr) noexcept;

// The collection's own document as compact JSON text, or NULL: what a full
// import kept of the collection around its requests (postman_full.h). It is
// replaced with the collection (a full import, a collection file) and
// dropped when it is emptied; adding an item leaves it.
const char *ac_collection_document() noexcept;

// The "postman" member of item `index` as compact JSON text, or NULL when
// it has none or the index is out of range.
const char *ac_collection_item_postman(int index) noexcept;

// True when item `index` has a "postman" member whose fingerprint still
// matches its request fields (method, URL, body, body type, headers, auth,
// verbatim): the request was not changed since that member was made.
bool ac_collection_item_unchanged(int index) noexcept;

// The item JSON object of item `index` (folder, name, method, url, body,
// body_type, headers, auth, then verbatim and postman when set) built in doc; its strings point into the item, so
// doc must be written before the collection changes. NULL when out of memory
// or out of range.
yyjson_mut_val *ac_collection_item_json(yyjson_mut_doc *doc, int index) noexcept;

// Releases what api_collection_scripts_json returned last (api_cleanup).
void ac_collection_scripts_cleanup() noexcept;
