// The report of the last full Postman import or export. A report is built
// aside and published only when its operation succeeds: a call that fails
// leaves the last report as it was.
#include <cstdarg>
#include <cstring>

#include "postman/postman.h"
#include "util/alloc.h"
#include "postman/postman_full.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

// The report being built.
yyjson_mut_doc *s_doc = nullptr;
yyjson_mut_val *s_root = nullptr;
yyjson_mut_val *s_notes = nullptr;
// A note or the report itself could not be made: the report is not whole.
bool s_failed = false;
// The written text of the report being built, then of the published one.
DynBuf s_texts[2];
int s_pending = 0;  // which of s_texts the report being built goes to
bool s_have_pending = false;
const char *s_result = "{}";

void drop_doc() noexcept {
    yyjson_mut_doc_free(s_doc);
    s_doc = nullptr;
    s_root = s_notes = nullptr;
}

// Names from a file are valid UTF-8; a text that is not is cut before its
// first invalid byte, so that the report can always be written.
yyjson_mut_val *text(const char *s) noexcept {
    return yyjson_mut_strncpy(s_doc, s, ac_utf8_valid_prefix(s, std::strlen(s)));
}

}  // namespace

void ac_postman_report_begin(const char *operation) noexcept {
    ac_postman_report_discard();
    s_doc = yyjson_mut_doc_new(ac_alc());
    s_root = s_doc ? yyjson_mut_obj(s_doc) : nullptr;
    s_notes = s_doc ? yyjson_mut_arr(s_doc) : nullptr;
    s_failed = !s_root || !s_notes || !yyjson_mut_obj_add_str(s_doc, s_root, "operation", operation);
    if (s_failed) drop_doc();
}

void ac_postman_report_discard() noexcept {
    drop_doc();
    s_have_pending = false;
    s_texts[s_pending].reset();
}

void ac_postman_report_note(const char *folder, const char *name, const char *what, const char *detail) noexcept {
    if (!s_doc) return;
    yyjson_mut_val *note = yyjson_mut_obj(s_doc);
    bool ok = note && yyjson_mut_obj_add_val(s_doc, note, "folder", text(folder ? folder : "")) &&
              yyjson_mut_obj_add_val(s_doc, note, "name", text(name ? name : "")) &&
              yyjson_mut_obj_add_str(s_doc, note, "what", what) &&
              yyjson_mut_obj_add_val(s_doc, note, "detail", text(detail ? detail : "")) &&
              yyjson_mut_arr_append(s_notes, note);
    if (!ok) s_failed = true;
}

void ac_pm_note(const PmPlace &at, const char *what, const char *fmt, ...) noexcept {
    if (!s_doc) return;
    // Whole: a detail quotes names from the file, which may be long.
    DynBuf detail;
    va_list ap;
    va_start(ap, fmt);
    bool made = detail.vappendf(fmt, ap);
    va_end(ap);
    if (!made) {
        s_failed = true;
        return;
    }
    ac_postman_report_note(at.folder, at.name, what, detail.c_str());
}

bool ac_postman_report_end(int requests, int items, int variables, int scripts) noexcept {
    if (!s_doc || s_failed) {
        ac_postman_report_discard();
        return false;
    }
    yyjson_mut_doc *d = s_doc;
    bool ok = yyjson_mut_obj_add_int(d, s_root, "requests", requests) && yyjson_mut_obj_add_int(d, s_root, "items", items) &&
              yyjson_mut_obj_add_int(d, s_root, "variables", variables) &&
              yyjson_mut_obj_add_int(d, s_root, "scripts", scripts) && yyjson_mut_obj_add_val(d, s_root, "notes", s_notes);
    yyjson_mut_doc_set_root(d, s_root);
    std::size_t len = 0;
    unique_cstr written(ok ? yyjson_mut_write_opts(d, 0, ac_alc(), &len, nullptr) : nullptr);
    drop_doc();
    DynBuf &pending = s_texts[s_pending];
    pending.reset();
    s_have_pending = written && pending.append(written.get(), len);
    if (!s_have_pending) pending.reset();
    return s_have_pending;
}

void ac_postman_report_publish() noexcept {
    if (!s_have_pending) return;
    s_result = s_texts[s_pending].c_str();
    s_pending = 1 - s_pending;
    s_texts[s_pending].reset();
    s_have_pending = false;
}

void ac_postman_report_cleanup() noexcept {
    drop_doc();
    s_texts[0].release();
    s_texts[1].release();
    s_have_pending = false;
    s_result = "{}";
}

void ac_postman_cleanup() noexcept { ac_postman_report_cleanup(); }

extern "C" const char *api_postman_report_json(void) noexcept {
    return s_result;
}
