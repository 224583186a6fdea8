#include "postman/postman_staging.h"

#include "collection/collection.h"
#include "util/alloc.h"

bool PmStaging::begin() noexcept {
    doc_.reset(yyjson_mut_doc_new(ac_alc()));
    items_ = doc_ ? yyjson_mut_arr(doc_.get()) : nullptr;
    if (!items_) return false;
    yyjson_mut_doc_set_root(doc_.get(), items_);
    return true;
}

bool PmStaging::add(const char *folder, yyjson_mut_val *item) noexcept {
    yyjson_mut_val *key = yyjson_mut_str(doc_.get(), "folder");
    yyjson_mut_val *value = yyjson_mut_strcpy(doc_.get(), folder);
    // The folder goes first, as in every item JSON the collection gives back.
    return key && value && yyjson_mut_obj_insert(item, key, value, 0) && yyjson_mut_arr_append(items_, item);
}

bool PmStaging::commit(int *added) noexcept {
    unique_doc items(yyjson_mut_doc_imut_copy(doc_.get(), ac_alc()));
    doc_.reset();
    return items && ac_collection_replace(yyjson_doc_get_root(items.get()), added);
}
