// What every fuzz target shares: a fresh library for each input, a private
// temporary directory, JSON helpers and the invariant check that stops a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <yyjson.h>

// Reports a broken invariant and aborts: libFuzzer keeps the input as a
// crash, the replay test fails naming the corpus file.
[[noreturn]] void fuzz_fail(const char *file, int line, const char *condition, const std::string &detail);

#define FUZZ_CHECK(cond, detail)                                     \
    do {                                                             \
        if (!(cond)) fuzz_fail(__FILE__, __LINE__, #cond, (detail)); \
    } while (0)

// api_cleanup, then api_init(storage_dir); every input starts from here so
// that no input sees what an earlier one left.
void fuzz_reset(const char *storage_dir = nullptr);

// A directory of this process's own, created on first use (on tmpfs when
// there is one: saves flush to disk) and removed at exit.
const std::string &fuzz_temp_dir();
std::string fuzz_temp_path(const char *name);
void fuzz_write_file(const std::string &path, const void *data, std::size_t size);
std::string fuzz_read_file(const std::string &path);

// The input cut at NUL bytes into at most max_pieces pieces; the last one
// holds the rest, NUL bytes included when the limit is reached.
std::vector<std::string_view> fuzz_split(const std::uint8_t *data, std::size_t size, std::size_t max_pieces);

struct FuzzDocDeleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
using FuzzDoc = std::unique_ptr<yyjson_doc, FuzzDocDeleter>;

// Strict parse, the way the library reads every text (no comments, valid
// UTF-8); null when the text is not JSON.
FuzzDoc fuzz_parse(std::string_view text);
// Compact text of a value ("" for null).
std::string fuzz_json(yyjson_val *v);
// A string member cut at its first NUL, as the library copies it, or fallback.
std::string fuzz_cstr_member(yyjson_val *obj, const char *key, const char *fallback);
std::string fuzz_cstr(yyjson_val *str);

// Every item JSON of the collection, in order, and as one text for messages.
std::vector<std::string> fuzz_collection_items();
std::string fuzz_listing(const std::vector<std::string> &items);

// Adds one item before a load or import, so that a failed one can be seen
// to keep the collection; true while the collection holds that item alone.
void fuzz_add_kept_item();
bool fuzz_only_kept_item();
