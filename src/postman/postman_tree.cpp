#include "postman/postman_tree.h"

#include <cstring>

#include "apiclient/apiclient.h"
#include "collection/collection.h"
#include "util/util.h"
#include "util/alloc.h"

std::size_t ac_pm_extend_path(char (&path)[folder_path_size], std::size_t len, const char *name) noexcept {
    std::size_t n = len;
    if (n > 0 && n < folder_path_size) path[n++] = '/';
    std::size_t name_len = std::strlen(name);
    std::size_t room = folder_path_size - n;
    std::size_t take = name_len < room ? name_len : room;
    std::memcpy(path + n, name, take);
    n += take;
    if (n >= folder_path_size) n = ac_utf8_cut(path, folder_path_size, folder_path_size - 1);
    path[n] = '\0';
    return n;
}

PmFrameStack::~PmFrameStack() { ac_free(frames_); }

bool PmFrameStack::push(yyjson_val *items, std::size_t path_len, yyjson_val *auth, yyjson_mut_val *kept) noexcept {
    if (count_ == cap_) {
        std::size_t want = cap_ ? cap_ * 2 : 16;
        auto *grown = static_cast<PmFrame *>(ac_realloc(frames_, want * sizeof(PmFrame)));
        if (!grown) return false;
        frames_ = grown;
        cap_ = want;
    }
    frames_[count_++] = PmFrame{yyjson_arr_iter_with(items), path_len, auth, kept};
    return true;
}

yyjson_val *ac_pm_load_items(const char *fn, const char *path, unique_doc &doc) noexcept {
    doc.reset(ac_json_load_file(fn, path));
    if (!doc) return nullptr;
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        ac_set_error("%s: root must be JSON object", fn);
        return nullptr;
    }
    yyjson_val *items = yyjson_obj_get(root, "item");
    if (!yyjson_is_arr(items)) {
        ac_set_error("%s: missing 'item' array in Postman collection", fn);
        return nullptr;
    }
    return items;
}

bool PmStaging::begin() noexcept {
    doc_.reset(yyjson_mut_doc_new(ac_alc()));
    items_ = doc_ ? yyjson_mut_arr(doc_.get()) : nullptr;
    document_ = nullptr;
    return items_ != nullptr;
}

bool PmStaging::add(const char *folder, yyjson_mut_val *item) noexcept {
    yyjson_mut_val *key = yyjson_mut_str(doc_.get(), "folder");
    yyjson_mut_val *value = yyjson_mut_strcpy(doc_.get(), folder);
    // The folder goes first, as in every item JSON the collection gives back.
    return key && value && yyjson_mut_obj_insert(item, key, value, 0) && yyjson_mut_arr_append(items_, item);
}

bool PmStaging::commit(int *added) noexcept {
    // [items, document]: one copy holds both.
    yyjson_mut_val *both = yyjson_mut_arr(doc_.get());
    if (!both || !yyjson_mut_arr_append(both, items_) ||
        !yyjson_mut_arr_append(both, document_ ? document_ : yyjson_mut_null(doc_.get())))
        return false;
    yyjson_mut_doc_set_root(doc_.get(), both);
    unique_doc copy(yyjson_mut_doc_imut_copy(doc_.get(), ac_alc()));
    doc_.reset();
    yyjson_val *root = yyjson_doc_get_root(copy.get());
    yyjson_val *document = yyjson_arr_get(root, 1);
    return copy && ac_collection_replace(yyjson_arr_get(root, 0), added, yyjson_is_obj(document) ? document : nullptr);
}
