#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "collection/collection.h"
#include "quorvane_apiclient.h"
#include "util/dynbuf.h"
#include "util/util.h"

namespace {

// Records past the count are all-null.
CollectionItem s_collection[max_collection_items];
int s_collection_count = 0;
// Holds the text last returned by api_collection_get_json; survives
// ac_collection_init so that hosts reading items in a row allocate once.
ResultBuf s_collection_get_buf;
unsigned long s_generation = 0;
// The collection's document (compact JSON text), or NULL.
char *s_document = nullptr;

bool refuse_deep_member(yyjson_val *root, const char *key) noexcept {
    if (ac_json_depth(yyjson_obj_get(root, key), max_member_depth) <= max_member_depth) return false;
    ac_set_error("api_collection_add: '%s' nested too deeply", key);
    return true;
}

void release_items() noexcept {
    for (int i = 0; i < s_collection_count; ++i) free_collection_item(&s_collection[i]);
    s_collection_count = 0;
    ac_free(s_document);
    s_document = nullptr;
    ++s_generation;
}

// FNV-1a over the request fields, each followed by a NUL: a change to any of
// them shows as another fingerprint.
void fingerprint(const CollectionItem &item, char (&hex)[17]) noexcept {
    std::uint64_t h = 14695981039346656037ull;
    const char *fields[] = {item.method, item.url, item.body, item.body_type, item.headers, item.auth,
                            item.verbatim ? "1" : "0"};
    for (const char *field : fields) {
        for (const char *p = field ? field : ""; ; ++p) {
            h = (h ^ static_cast<unsigned char>(*p)) * 1099511628211ull;
            if (!*p) break;
        }
    }
    static const char digits[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i, h >>= 4) hex[i] = digits[h & 15];
    hex[16] = '\0';
}

// The "postman" member as compact text, stamped with the fingerprint of the
// item's fields when it carries none (a full import leaves it to the store).
// Only an object is kept; *out stays NULL otherwise. False when memory runs out.
bool kept_member_text(yyjson_val *root, const CollectionItem &item, char *&out) noexcept {
    out = nullptr;
    yyjson_val *kept = yyjson_obj_get(root, "postman");
    if (!yyjson_is_obj(kept)) return true;
    std::size_t len = 0;
    unique_cstr text(yyjson_val_write_opts(kept, 0, ac_alc(), &len, nullptr));
    if (!text) return false;
    if (yyjson_is_str(yyjson_obj_get(kept, "sent"))) {
        out = text.release();
        return true;
    }
    // The compact text of an object ends in '}': the member goes before it.
    char hex[17];
    fingerprint(item, hex);
    DynBuf stamped;
    stamped.append(text.get(), len - 1);
    stamped.appendf("%s\"sent\":\"%s\"}", yyjson_obj_size(kept) ? "," : "", hex);
    out = stamped.ok() ? stamped.take() : nullptr;
    return out != nullptr;
}

// Compact JSON text of the member's value, whatever its type; "{}" when the
// member is missing; NULL when memory runs out.
char *json_member_text(yyjson_val *obj, const char *key) noexcept {
    yyjson_val *v = yyjson_obj_get(obj, key);
    if (!v) return ac_strdup("{}");
    return yyjson_val_write_opts(v, 0, ac_alc(), nullptr, nullptr);
}

const char *or_default(const char *text, const char *fallback) noexcept {
    return text ? text : fallback;
}

// Adds key with the value the JSON text holds; an absent or empty text leaves
// the member out. The texts were written by the library, so a parse that
// fails ran out of memory: false then, never an item without its member.
bool add_json_member(yyjson_mut_doc *doc, yyjson_mut_val *obj, const char *key, const char *text) noexcept {
    if (!text || !*text) return true;
    unique_doc parsed(ac_json_read(text, std::strlen(text)));
    if (!parsed) return false;
    yyjson_mut_val *copy = yyjson_val_mut_copy(doc, yyjson_doc_get_root(parsed.get()));
    return copy && yyjson_mut_obj_add_val(doc, obj, key, copy);
}

}  // namespace

void free_collection_item(CollectionItem *item) noexcept {
    ac_free(item->folder);
    ac_free(item->name);
    ac_free(item->method);
    ac_free(item->url);
    ac_free(item->headers);
    ac_free(item->body);
    ac_free(item->body_type);
    ac_free(item->auth);
    ac_free(item->postman);
    *item = CollectionItem{};
}

unsigned long ac_collection_generation() noexcept { return s_generation; }

void ac_collection_init() noexcept { release_items(); }

void ac_collection_cleanup() noexcept {
    release_items();
    s_collection_get_buf.release();
}

namespace {

enum class Built { item, refused, no_memory };

// Builds one item from item JSON with the checks and messages of
// api_collection_add; the collection itself is not touched.
Built build_item(const char *folder, yyjson_val *root, CollectionItem &item) noexcept {
    if (!yyjson_is_obj(root)) {
        ac_set_error("api_collection_add: request_json must be an object");
        return Built::refused;
    }
    if (refuse_deep_member(root, "headers") || refuse_deep_member(root, "auth") || refuse_deep_member(root, "postman"))
        return Built::refused;
    if (!folder) folder = "";
    // The item's JSON could never be written again: it would make every later
    // save of the whole collection fail.
    if (!ac_utf8_valid(folder, std::strlen(folder))) {
        ac_set_error("api_collection_add: folder is not valid UTF-8");
        return Built::refused;
    }
    item = CollectionItem{};
    item.folder = ac_strdup(folder);
    item.name = ac_strdup(ac_json_str(root, "name", "Untitled Request"));
    item.method = ac_strdup(ac_json_str(root, "method", "GET"));
    item.url = ac_strdup(ac_json_str(root, "url", ""));
    item.body = ac_strdup(ac_json_str(root, "body", ""));
    item.body_type = ac_strdup(ac_json_str(root, "body_type", "raw"));
    item.headers = json_member_text(root, "headers");
    item.auth = json_member_text(root, "auth");
    item.verbatim = yyjson_is_true(yyjson_obj_get(root, "verbatim"));
    // All or nothing: a half-copied item would silently lose its headers or auth.
    bool whole = item.folder && item.name && item.method && item.url && item.body && item.body_type &&
                 item.headers && item.auth;
    if (!whole || !kept_member_text(root, item, item.postman)) {
        free_collection_item(&item);
        return Built::no_memory;
    }
    return Built::item;
}

}  // namespace

int ac_collection_add_value(const char *folder, yyjson_val *root) noexcept {
    if (s_collection_count >= max_collection_items) {
        ac_set_error("api_collection_add: collection limit (%d) reached", max_collection_items);
        return 0;
    }
    CollectionItem item;
    Built built = build_item(folder, root, item);
    if (built == Built::no_memory) ac_set_error("api_collection_add: out of memory");
    if (built != Built::item) return 0;
    s_collection[s_collection_count++] = item;
    return 1;
}

bool ac_collection_replace(yyjson_val *elements, int *added, yyjson_val *document) noexcept {
    // Built aside first: a load that runs out of memory half-way must leave
    // the old collection whole rather than part of the file's items.
    unique_cstr doc_text(document ? yyjson_val_write_opts(document, 0, ac_alc(), nullptr, nullptr) : nullptr);
    if (document && !doc_text) return false;
    std::size_t n = yyjson_arr_size(elements);
    if (n > static_cast<std::size_t>(max_collection_items)) n = max_collection_items;
    auto *staged = static_cast<CollectionItem *>(ac_malloc((n ? n : 1) * sizeof(CollectionItem)));
    if (!staged) return false;
    int count = 0;
    std::size_t idx, max;
    yyjson_val *element;
    yyjson_arr_foreach(elements, idx, max, element) {
        if (count >= max_collection_items) {
            ac_set_error("api_collection_add: collection limit (%d) reached", max_collection_items);
            continue;
        }
        const char *folder = yyjson_is_obj(element) ? ac_json_str(element, "folder", "") : "";
        Built built = build_item(folder, element, staged[count]);
        if (built == Built::item) ++count;
        if (built != Built::no_memory) continue;
        for (int i = 0; i < count; ++i) free_collection_item(&staged[i]);
        ac_free(staged);
        return false;
    }
    release_items();
    for (int i = 0; i < count; ++i) s_collection[i] = staged[i];
    s_collection_count = count;
    s_document = doc_text.release();
    if (added) *added = count;
    ac_free(staged);
    return true;
}

yyjson_mut_val *ac_collection_item_json(yyjson_mut_doc *doc, int index) noexcept {
    if (index < 0 || index >= s_collection_count) return nullptr;
    const CollectionItem &it = s_collection[index];
    yyjson_mut_val *obj = yyjson_mut_obj(doc);
    if (!obj) return nullptr;
    bool ok = yyjson_mut_obj_add_str(doc, obj, "folder", or_default(it.folder, "")) &&
              yyjson_mut_obj_add_str(doc, obj, "name", or_default(it.name, "")) &&
              yyjson_mut_obj_add_str(doc, obj, "method", or_default(it.method, "GET")) &&
              yyjson_mut_obj_add_str(doc, obj, "url", or_default(it.url, "")) &&
              yyjson_mut_obj_add_str(doc, obj, "body", or_default(it.body, "")) &&
              yyjson_mut_obj_add_str(doc, obj, "body_type", or_default(it.body_type, "raw")) &&
              add_json_member(doc, obj, "headers", it.headers) && add_json_member(doc, obj, "auth", it.auth) &&
              (!it.verbatim || yyjson_mut_obj_add_true(doc, obj, "verbatim")) &&
              add_json_member(doc, obj, "postman", it.postman);
    return ok ? obj : nullptr;
}

const char *ac_collection_document() noexcept { return s_document; }

bool ac_collection_item_unchanged(int index) noexcept {
    if (index < 0 || index >= s_collection_count || !s_collection[index].postman) return false;
    const CollectionItem &it = s_collection[index];
    unique_doc kept(ac_json_read(it.postman, std::strlen(it.postman)));
    yyjson_val *sent = yyjson_obj_get(yyjson_doc_get_root(kept.get()), "sent");
    char hex[17];
    fingerprint(it, hex);
    return yyjson_is_str(sent) && std::strcmp(yyjson_get_str(sent), hex) == 0;
}

extern "C" int api_collection_add(const char *folder, const char *request_json) noexcept {
    if (!request_json || !*request_json) {
        ac_set_error("api_collection_add: null or empty request_json");
        return 0;
    }
    if (s_collection_count >= max_collection_items) {
        ac_set_error("api_collection_add: collection limit (%d) reached", max_collection_items);
        return 0;
    }
    yyjson_read_err err{};
    unique_doc doc(ac_json_read(request_json, std::strlen(request_json), &err));
    if (!doc && ac_json_no_memory(err)) {
        ac_set_error("api_collection_add: out of memory");
        return 0;
    }
    if (!doc) {
        ac_set_error("api_collection_add: invalid JSON: %s", request_json);
        return 0;
    }
    return ac_collection_add_value(folder, yyjson_doc_get_root(doc.get()));
}

extern "C" int api_collection_count(void) noexcept { return s_collection_count; }

const char *ac_collection_item_postman(int index) noexcept {
    return index >= 0 && index < s_collection_count ? s_collection[index].postman : nullptr;
}

extern "C" const char *api_collection_get_json(int index) noexcept {
    if (index < 0 || index >= s_collection_count) return "{}";
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    if (!doc) return "{}";
    yyjson_mut_val *obj = ac_collection_item_json(doc.get(), index);
    if (!obj) return "{}";
    yyjson_mut_doc_set_root(doc.get(), obj);
    std::size_t len = 0;
    unique_cstr text(yyjson_mut_write_opts(doc.get(), 0, ac_alc(), &len, nullptr));
    if (!text) return "{}";
    return s_collection_get_buf.set(text.get(), len, "{}");
}
