// api_collection_scripts_json: the scripts the format's runner runs around a
// request, found through the item's place in the collection's document.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "apiclient/apiclient.h"
#include "collection/collection.h"
#include "quorvane_apiclient.h"
#include "util/alloc.h"
#include "util/dynbuf.h"
#include "util/json_build.h"
#include "util/util.h"

namespace {

ResultBuf s_scripts_json;

// Folders nest no deeper in a document than the import keeps layouts.
constexpr int max_folder_depth = 64;

// Finds the layout entry `ref` below `list`, filling `path` with the folders
// around it (outermost first); false when it is not there.
bool find_ref(yyjson_val *list, std::uint64_t ref, yyjson_val *(&path)[max_folder_depth], int depth, int &found_depth) noexcept {
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(list);
    while ((entry = yyjson_arr_iter_next(&it))) {
        if (yyjson_is_uint(entry) && yyjson_get_uint(entry) == ref) {
            found_depth = depth;
            return true;
        }
        yyjson_val *inner = yyjson_obj_get(entry, "item");
        if (!yyjson_is_arr(inner) || depth >= max_folder_depth) continue;
        path[depth] = entry;
        if (find_ref(inner, ref, path, depth + 1, found_depth)) return true;
    }
    return false;
}

// A script's "exec": lines joined by "\n", or the one string.
void add_exec(JsonBuild &b, yyjson_mut_val *obj, yyjson_val *exec) noexcept {
    if (yyjson_is_str(exec)) {
        b.add_text(obj, "script", yyjson_get_str(exec), yyjson_get_len(exec));
        return;
    }
    DynBuf text;
    yyjson_val *line;
    yyjson_arr_iter it = yyjson_arr_iter_with(exec);
    for (bool first = true; (line = yyjson_arr_iter_next(&it)); first = false) {
        if (!first) text.append_byte('\n');
        if (yyjson_is_str(line)) text.append(yyjson_get_str(line), yyjson_get_len(line));
    }
    b.check(text.ok());
    b.add_text(obj, "script", text.c_str(), text.len());
}

// Appends the enabled, non-empty scripts of `owner`'s "event" that listen to `listen`.
void add_events(JsonBuild &b, yyjson_mut_val *list, yyjson_val *owner, const char *listen, const char *from) noexcept {
    yyjson_val *event;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_obj_get(owner, "event"));
    while ((event = yyjson_arr_iter_next(&it))) {
        if (std::strcmp(ac_json_str(event, "listen", ""), listen) != 0 || yyjson_is_true(yyjson_obj_get(event, "disabled")))
            continue;
        yyjson_val *exec = yyjson_obj_get(yyjson_obj_get(event, "script"), "exec");
        if (!(yyjson_is_str(exec) && yyjson_get_len(exec) > 0) && !(yyjson_is_arr(exec) && yyjson_arr_size(exec) > 0))
            continue;
        yyjson_mut_val *obj = b.obj();
        b.add(obj, "listen", b.text(listen, std::strlen(listen)));
        b.add(obj, "from", b.text(from, std::strlen(from)));
        const char *name = ac_json_str(owner, "name", "");
        if (std::strcmp(from, "collection") == 0) name = ac_json_str(yyjson_obj_get(owner, "info"), "name", "");
        b.add(obj, "name", b.text(name, std::strlen(name)));
        add_exec(b, obj, exec);
        b.append(list, obj);
    }
}

}  // namespace

void ac_collection_scripts_cleanup() noexcept { s_scripts_json.release(); }

extern "C" const char *api_collection_scripts_json(int index) noexcept {
    if (index < 0 || index >= api_collection_count()) {
        ac_set_error("api_collection_scripts_json: index out of range");
        return "";
    }
    const char *kept = ac_collection_item_postman(index);
    const char *document = ac_collection_document();
    unique_doc item(kept ? ac_json_read(kept, std::strlen(kept)) : nullptr);
    unique_doc root(document ? ac_json_read(document, std::strlen(document)) : nullptr);
    unique_mut_doc out(yyjson_mut_doc_new(ac_alc()));
    JsonBuild b(out.get());
    yyjson_mut_val *list = b.arr();
    if (b.ok()) yyjson_mut_doc_set_root(out.get(), list);

    yyjson_val *postman = yyjson_doc_get_root(item.get());
    yyjson_val *doc = yyjson_doc_get_root(root.get());
    yyjson_val *folders[max_folder_depth] = {};
    int depth = 0;
    yyjson_val *ref = yyjson_obj_get(postman, "ref");
    bool placed = yyjson_is_uint(ref) && find_ref(yyjson_obj_get(doc, "item"), yyjson_get_uint(ref), folders, 0, depth);
    // The runner's order: the collection's scripts, each folder's from the
    // outermost in, the request's own; pre-request scripts, then tests.
    for (const char *listen : {"prerequest", "test"}) {
        if (placed) add_events(b, list, doc, listen, "collection");
        for (int i = 0; placed && i < depth; ++i) add_events(b, list, folders[i], listen, "folder");
        add_events(b, list, yyjson_obj_get(postman, "item"), listen, "item");
    }
    std::size_t len = 0;
    unique_cstr text(b.ok() ? yyjson_mut_write_opts(out.get(), 0, ac_alc(), &len, nullptr) : nullptr);
    const char *result = text ? s_scripts_json.set(text.get(), len, "") : "";
    if (!*result) ac_set_error("api_collection_scripts_json: out of memory");
    return result;
}
