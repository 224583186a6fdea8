// The full Postman import and export: items built so that api_request sends
// what the format's runner sends, and the report of what could not be kept.
#pragma once

#include <cstddef>

#include <yyjson.h>

#include "url/url.h"
#include "util/dynbuf.h"
#include "util/json_build.h"
#include "util/printf_format.h"

// ---- Report (postman_report.cpp) -------------------------------------------

// Starts a new report aside; api_postman_report_json keeps giving the last
// published one.
void ac_postman_report_begin(const char *operation) noexcept;
// One dropped or rewritten thing. Texts are copied.
void ac_postman_report_note(const char *folder, const char *name, const char *what, const char *detail) noexcept;
// Writes the report being built. False when memory ran out for it or for any
// of its notes: the operation must then fail.
bool ac_postman_report_end(int requests, int items, int variables, int scripts) noexcept;
// Makes the report ac_postman_report_end wrote the last one; never fails.
void ac_postman_report_publish() noexcept;
// Drops the report being built; the published one stays.
void ac_postman_report_discard() noexcept;
// Releases every report; api_postman_report_json gives "{}" afterwards.
void ac_postman_report_cleanup() noexcept;

// ---- What the full import keeps ---------------------------------------------
//
// Each request item it stages carries, in its item JSON, the member
// "postman": {"ref": <its index>, "item": <the request item as the file wrote
// it>}, to which the collection adds "sent" (collection.h). The collection's
// document is the file's root with every member but "item", whose place its
// layout takes: the root's item list with each staged request as its ref (a
// number), each folder with its members and its own item list, and any other
// element as it is. The full export writes them back.

// The name an export gives a collection that has none of its own.
inline constexpr const char *ac_pm_export_name = "Exported Tovrane Collection";

// ---- Writing back what was kept (postman_full_layout.cpp) -------------------
// Each builds in b's document; NULL (b failed) when memory runs out.

// Rewrites an auth given in v2.0's object form ({"type":"basic","basic":
// {"username":..}}) in v2.1's list form, in place.
void ac_pm_auth_v21(JsonBuild &b, yyjson_mut_val *auth) noexcept;
// The collection's root from its document: every member but the layout, with
// the v2.1 schema, a name, and an empty "item" list in *items.
yyjson_mut_val *ac_pm_kept_root(JsonBuild &b, yyjson_val *document, yyjson_mut_val **items) noexcept;
// A folder of the layout with its members and an empty "item" list in *items.
yyjson_mut_val *ac_pm_kept_folder(JsonBuild &b, yyjson_val *folder, yyjson_mut_val **items) noexcept;
// A request item as its file wrote it (`item`, from its postman member),
// named `name`; `request` (NULL: the kept one) replaces its request when the
// host changed it, with `behaviour` (may be NULL) over its settings.
yyjson_mut_val *ac_pm_kept_item(JsonBuild &b, yyjson_val *item, const char *name, yyjson_mut_val *request,
                                yyjson_mut_val *behaviour) noexcept;

// Where a note belongs: the folder path and name of the item being built.
struct PmPlace {
    const char *folder;
    const char *name;
};

// A note whose detail is a printf format; the detail is cut to a whole character.
void ac_pm_note(const PmPlace &at, const char *what, const char *fmt, ...) noexcept AC_PRINTF_FORMAT(3, 4);

// ---- Text (postman_full_url.cpp) --------------------------------------------

// Appends s[0..len) as a JSON string literal, escaped as JSON.stringify does.
bool ac_pm_json_string(DynBuf &out, const char *s, std::size_t len) noexcept;

// Appends the URL the runner sends for a request's "url" (string or object):
// built from the parts when there are any, else from "raw" (*raw_only set),
// path variables filled, the fragment dropped, http:// added when no scheme
// is given, and percent-encoded unless `encode` is false.
bool ac_pm_build_url(DynBuf &out, yyjson_val *url, bool encode, bool *raw_only) noexcept;

// ---- Headers (postman_full_headers.cpp) -------------------------------------

// A request's header list as the runner keeps it: names compared ASCII
// case-insensitively; repeated names as the runner treats them (load()).
// Texts are copied into `doc`.
class PmHeaders {
public:
    explicit PmHeaders(yyjson_mut_doc *doc) noexcept : doc_(doc) {}
    ~PmHeaders();
    PmHeaders(const PmHeaders &) = delete;
    PmHeaders &operator=(const PmHeaders &) = delete;

    // Adds the enabled entries of a request's "header" (array, or the older
    // "Name: value" lines), then settles repeated names: every value of an
    // exactly repeated name is kept; of names that differ only in case, the
    // spelling that first appears last wins, at the first one's place.
    bool load(yyjson_val *header) noexcept;
    // Index of the header of that name, or -1. set_value and remove act on all
    // of its values at once.
    long find(const char *name, std::size_t len) const noexcept;
    long find(const char *name) const noexcept;
    const char *value(long index) const noexcept;
    const char *name(long index) const noexcept;
    bool set_value(long index, const char *value, std::size_t len) noexcept;
    void remove(long index) noexcept;
    bool append(const char *name, std::size_t name_len, const char *value, std::size_t value_len) noexcept;
    bool append(const char *name, const char *value) noexcept;
    // The headers as an item JSON object in doc; NULL when out of memory.
    yyjson_mut_val *object() noexcept;

private:
    // An entry that is not removed heads its name; `next` links the further
    // values of the same name (entries marked removed themselves).
    struct Entry {
        yyjson_mut_val *name;
        yyjson_mut_val *value;
        bool removed;
        long next;
    };
    bool push(const char *name, std::size_t name_len, const char *value, std::size_t value_len) noexcept;
    bool collapse() noexcept;

    yyjson_mut_doc *doc_;
    Entry *entries_ = nullptr;
    std::size_t count_ = 0;
    std::size_t cap_ = 0;
};

// ---- Bodies (postman_full_body.cpp) -----------------------------------------

struct PmBody {
    DynBuf text;
    const char *type = "raw";  // item body_type
};

// Maps a request's "body" by mode for a request sent with `method` (upper
// case); `keep_get_body` is the item's disableBodyPruning. Adds or rewrites the
// Content-Type the runner sends. False only when memory runs out.
bool ac_pm_map_body(const PmPlace &at, yyjson_val *body, const char *method, bool keep_get_body, PmHeaders &headers,
                    PmBody &out) noexcept;
// The methods whose body the runner drops unless body pruning is disabled.
bool ac_pm_pruned_method(const char *method) noexcept;
// The Content-Type the runner gives a file by its name's extension.
const char *ac_pm_file_type(const char *path, std::size_t len) noexcept;
// The Content-Type the runner adds to a raw body of that language ("" or NULL: none given).
const char *ac_pm_raw_type(const char *language) noexcept;

// ---- Auth (postman_full_auth.cpp) -------------------------------------------

// Maps an effective auth object (NULL: none) to item auth in doc. OAuth 2 is
// carried as its access token, in `headers` or appended to `url`; a header the
// auth sends replaces the request's own of that name. NULL when out of memory.
yyjson_mut_val *ac_pm_map_auth(const PmPlace &at, yyjson_mut_doc *doc, yyjson_val *auth, PmHeaders &headers,
                               DynBuf &url) noexcept;
// Writes item auth back as a v2.1 auth object in doc; NULL when there is none
// to write (no type, or noauth) or when out of memory (*ok cleared).
yyjson_mut_val *ac_pm_export_auth(yyjson_mut_doc *doc, yyjson_val *auth, bool *ok) noexcept;
