// The items of an import, built aside and handed to the collection at once:
// an import that runs out of memory half-way leaves the old collection whole.
#pragma once

#include <yyjson.h>

#include "util/owners.h"

class PmStaging {
public:
    // False when memory runs out.
    bool begin() noexcept;
    // The document to build item objects in.
    yyjson_mut_doc *doc() const noexcept { return doc_.get(); }
    // Adds an item object of doc() under `folder`; false when memory runs out.
    bool add(const char *folder, yyjson_mut_val *item) noexcept;
    // Replaces the collection with the items, dropping those the collection
    // refuses with their api_collection_add message; *added receives how many
    // it took. False when memory runs out, with the collection unchanged.
    bool commit(int *added) noexcept;

private:
    unique_mut_doc doc_;
    yyjson_mut_val *items_ = nullptr;
};
