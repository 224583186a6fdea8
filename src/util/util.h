// Small helpers shared by every module: bounded text copies, UTF-8 aware
// cuts and strict JSON reading. The owners of C resources are in owners.h.
#pragma once

#include <cstddef>

#include <yyjson.h>

#include "util/owners.h"

static_assert(YYJSON_VERSION_MAJOR == 0 && YYJSON_VERSION_MINOR == 12, "yyjson 0.12 is required");

// Copies src into dst[cap], cut to cap-1 bytes and always terminated.
void ac_copy_text(char *dst, std::size_t cap, const char *src) noexcept;

// Heap copy of src (NULL gives NULL); release with ac_free().
char *ac_strdup(const char *src) noexcept;

// Length of the longest prefix of s[0..len) of at most max bytes that does not
// end inside a UTF-8 sequence.
std::size_t ac_utf8_cut(const char *s, std::size_t len, std::size_t max) noexcept;

// Copies src into dst[cap] like ac_copy_text, but never splits a UTF-8 character.
void ac_copy_text_utf8(char *dst, std::size_t cap, const char *src) noexcept;

// True when s[0..len) is valid UTF-8.
bool ac_utf8_valid(const char *s, std::size_t len) noexcept;
// Length of the longest prefix of s[0..len) that is valid UTF-8.
std::size_t ac_utf8_valid_prefix(const char *s, std::size_t len) noexcept;

// ASCII case-insensitive equality of two NUL-terminated texts.
bool ac_ascii_ieq(const char *a, const char *b) noexcept;

// Strict JSON (read flags 0): standard JSON only, no BOM, valid UTF-8.
yyjson_doc *ac_json_read(const char *text, std::size_t len, yyjson_read_err *err = nullptr) noexcept;

// The JSON text argument `name` of the exported function `fn`, read
// strictly; NULL, with fn's message set, when it is NULL or empty ("<fn>:
// missing <name>"), when memory runs out ("<fn>: out of memory") or when it
// is no JSON ("<fn>: <invalid>").
yyjson_doc *ac_json_read_arg(const char *fn, const char *name, const char *text, const char *invalid) noexcept;

// True when a read failed for lack of memory rather than for its text.
inline bool ac_json_no_memory(const yyjson_read_err &err) noexcept {
    return err.code == YYJSON_READ_ERROR_MEMORY_ALLOCATION;
}

enum class JsonFile { ok, unreadable, invalid, no_memory };

// Reads and parses a whole JSON file strictly. The file's bytes are released
// once parsed, so only the document stays in memory. NULL on failure, with
// *status saying why (err, when given, describes an invalid text).
yyjson_doc *ac_json_read_file(const char *path, JsonFile *status, yyjson_read_err *err = nullptr) noexcept;

// Reads a JSON file for the exported function `fn`: NULL on failure, with
// fn's message set ("null or empty path", "out of memory", "could not read
// '<path>'", "invalid JSON in '<path>'").
yyjson_doc *ac_json_load_file(const char *fn, const char *path) noexcept;

// Pretty text of a document, released with ac_free(); NULL when it cannot be
// written, with *no_memory set when memory ran out for it.
char *ac_json_write_pretty(yyjson_mut_doc *doc, std::size_t *len, bool *no_memory) noexcept;

// Nesting depth of v (a scalar is 0, [] is 1), counted no further than
// limit + 1, so the recursion is bounded whatever the input.
std::size_t ac_json_depth(yyjson_val *v, std::size_t limit) noexcept;

// String member of an object (first of equal keys), or fallback when missing or
// of another type.
const char *ac_json_str(yyjson_val *obj, const char *key, const char *fallback) noexcept;

// The text of a string, number or boolean (a number written into scratch);
// NULL for anything else.
const char *ac_json_scalar(yyjson_val *v, std::size_t *len, char (&scratch)[40]) noexcept;
