// The report of the last full Postman import or export.
#include <cstdarg>
#include <cstring>

#include "postman/postman.h"
#include "util/alloc.h"
#include "postman/postman_full.h"
#include "quorvane_apiclient.h"
#include "util/util.h"

namespace {

// The report being built; its text is written once, at the end.
yyjson_mut_doc *s_doc = nullptr;
yyjson_mut_val *s_root = nullptr;
yyjson_mut_val *s_notes = nullptr;
ResultBuf s_text;
const char *s_result = "{}";
// A note or the report itself could not be made: the report is not whole.
bool s_failed = false;

void drop_doc() noexcept {
    yyjson_mut_doc_free(s_doc);
    s_doc = nullptr;
    s_root = s_notes = nullptr;
}

// A text cut to fit never ends inside a character: the report stays valid UTF-8.
yyjson_mut_val *text(const char *s) noexcept {
    std::size_t len = std::strlen(s);
    if (!ac_utf8_valid(s, len)) len = ac_utf8_cut(s, len, len);
    return yyjson_mut_strncpy(s_doc, s, len);
}

}  // namespace

void ac_postman_report_begin(const char *operation) noexcept {
    drop_doc();
    s_text.clear();
    s_result = "{}";
    s_doc = yyjson_mut_doc_new(ac_alc());
    s_root = s_doc ? yyjson_mut_obj(s_doc) : nullptr;
    s_notes = s_doc ? yyjson_mut_arr(s_doc) : nullptr;
    s_failed = !s_root || !s_notes || !yyjson_mut_obj_add_str(s_doc, s_root, "operation", operation);
    if (s_failed) drop_doc();
}

void ac_postman_report_discard() noexcept {
    drop_doc();
    s_text.clear();
    s_result = "{}";
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
    s_result = written ? s_text.set(written.get(), len, nullptr) : nullptr;
    if (s_result) return true;
    s_result = "{}";
    return false;
}

void ac_postman_report_cleanup() noexcept {
    drop_doc();
    s_text.release();
    s_result = "{}";
}

void ac_postman_cleanup() noexcept {
    ac_postman_report_cleanup();
    ac_pm_forget_variables();
}

extern "C" const char *api_postman_report_json(void) noexcept {
    return s_result;
}
