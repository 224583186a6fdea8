// What both Postman imports share: reading the file, walking its item tree
// into folder paths, and the items built aside and handed to the collection
// at once, so that an import that runs out of memory half-way leaves the old
// collection whole.
#pragma once

#include <cstddef>

#include <yyjson.h>

#include "util/owners.h"

constexpr std::size_t folder_path_size = 512;

// Appends a child's name to the folder path path[0..len): "name" at the top,
// else "parent/name"; cut at 511 bytes, never inside a UTF-8 character. Like
// a "%s" format, the name ends at its first NUL. Returns the new length.
std::size_t ac_pm_extend_path(char (&path)[folder_path_size], std::size_t len, const char *name) noexcept;

// One item list still being walked: its folder path length, and for the
// full import the auth its requests inherit and the list that keeps its
// layout (NULL when none is kept). Every path on the stack is a prefix of
// the one below it, so they share one buffer.
struct PmFrame {
    yyjson_arr_iter items;
    std::size_t path_len;
    yyjson_val *auth;
    yyjson_mut_val *kept;
};

// Pending item lists, deepest last, kept on the heap so that a file nested
// thousands of folders deep cannot exhaust the thread's stack.
class PmFrameStack {
public:
    PmFrameStack() = default;
    PmFrameStack(const PmFrameStack &) = delete;
    PmFrameStack &operator=(const PmFrameStack &) = delete;
    ~PmFrameStack();

    // False when memory runs out.
    bool push(yyjson_val *items, std::size_t path_len, yyjson_val *auth = nullptr, yyjson_mut_val *kept = nullptr) noexcept;
    bool empty() const noexcept { return count_ == 0; }
    std::size_t depth() const noexcept { return count_; }
    PmFrame &top() noexcept { return frames_[count_ - 1]; }
    void pop() noexcept { --count_; }

private:
    PmFrame *frames_ = nullptr;
    std::size_t count_ = 0;
    std::size_t cap_ = 0;
};

// The "item" array of a Postman collection file read for the exported
// function `fn`; NULL with fn's message set when the file cannot be read or
// is no collection. The document goes to *doc.
yyjson_val *ac_pm_load_items(const char *fn, const char *path, unique_doc &doc) noexcept;

class PmStaging {
public:
    // False when memory runs out.
    bool begin() noexcept;
    // The document to build item objects in.
    yyjson_mut_doc *doc() const noexcept { return doc_.get(); }
    // Adds an item object of doc() under `folder`; false when memory runs out.
    bool add(const char *folder, yyjson_mut_val *item) noexcept;
    // The collection's document (a value of doc()), handed over with the items.
    void set_document(yyjson_mut_val *document) noexcept { document_ = document; }
    // Replaces the collection with the items, dropping those the collection
    // refuses with their api_collection_add message; *added receives how many
    // it took. False when memory runs out, with the collection unchanged.
    bool commit(int *added) noexcept;

private:
    unique_mut_doc doc_;
    yyjson_mut_val *items_ = nullptr;
    yyjson_mut_val *document_ = nullptr;
};
