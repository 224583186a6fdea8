// api_import_postman_full on a fuzzed Postman v2.0/v2.1 file, then
// api_export_postman_full and api_import_postman_full of the export.
// Invariants: an import fails exactly when the file is not an object with an
// "item" array, keeping the old collection and leaving the report "{}";
// the report is JSON and counts the items; the full export reads back to
// the same items, member for member, each keeping its element as written
// (but for auth in v2.0's object form, which comes back in v2.1's lists).
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "quorvane_apiclient.h"
#include "support.h"

namespace {

// The report of the last import or export must be an object that counts
// every item of the collection.
void check_report(const char *operation) {
    std::string text = api_postman_report_json();
    FuzzDoc doc = fuzz_parse(text);
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    FUZZ_CHECK(yyjson_is_obj(root) && fuzz_cstr_member(root, "operation", "") == operation, "report " + text);
    yyjson_val *items = yyjson_obj_get(root, "items");
    FUZZ_CHECK(yyjson_is_int(items) && yyjson_get_int(items) == api_collection_count(), "report " + text);
}

// Differences a round trip through the format's file is allowed, because the
// file cannot carry them or only degenerate input shows them (the finding-*
// seeds hold one each, so a change in them shows up in the replay):
// - a URL does not always come back whole: an empty port, query or user
//   name ("http://h:/", "http://h/p?", "http://@h/", "http://:pw@h/", this
//   one with its password) is dropped, and so is white space that ends the
//   host ("h #" imports as "http://h "); "http://h::/" loses a colon (so does a
//   colon after a leading placeholder); a URL without a scheme can gain
//   "http://" (one that starts with its query, or with a "{{" that the
//   encoding made "%7B%7B"). URLs are compared without scheme, user info,
//   ':', '?' and white space;
// - a folder path comes back without empty names ("/" from a folder named
//   "/", "a//b" from one named ""): the path's '/' cannot tell them apart;
// - a text that holds a NUL ("\u0000") may be cut there (auth type,
//   multipart file names): inputs with one are not compared;
// - an auth of type "" is not written, and comes back {};
// - the body type of an empty body ("json" from an empty raw JSON body) is
//   not written, and comes back "raw": the format has no empty body that
//   still sends its type.
std::string known_url_form(std::string url) {
    std::size_t scheme = 0;
    while (scheme < url.size() && (std::isalnum(static_cast<unsigned char>(url[scheme])) || url[scheme] == '+' ||
                                   url[scheme] == '-' || url[scheme] == '.'))
        ++scheme;
    if (scheme > 0 && url.compare(scheme, 3, "://") == 0) url.erase(0, scheme + 3);
    std::size_t at = url.substr(0, url.find('/')).rfind('@');
    if (at != std::string::npos) url.erase(0, at + 1);
    std::erase_if(url, [](char c) { return c == ':' || c == '?' || std::isspace(static_cast<unsigned char>(c)); });
    return url;
}

std::string known_folder_form(std::string_view folder) {
    std::string out;
    for (std::size_t b = 0; b <= folder.size();) {
        std::size_t e = std::min(folder.find('/', b), folder.size());
        if (e > b) out.append(out.empty() ? "" : "/").append(folder.substr(b, e - b));
        b = e + 1;
    }
    return out;
}

std::string with_known_forms(const std::string &item) {
    FuzzDoc doc = fuzz_parse(item);
    yyjson_mut_doc *copy = yyjson_doc_mut_copy(doc.get(), nullptr);
    yyjson_mut_val *root = yyjson_mut_doc_get_root(copy);
    yyjson_mut_val *url_val = yyjson_mut_obj_get(root, "url");
    std::string url = known_url_form(std::string(yyjson_mut_get_str(url_val), yyjson_mut_get_len(url_val)));
    yyjson_mut_set_strn(url_val, url.data(), url.size());  // url outlives the write
    yyjson_mut_val *folder_val = yyjson_mut_obj_get(root, "folder");
    std::string folder = known_folder_form(std::string_view(yyjson_mut_get_str(folder_val), yyjson_mut_get_len(folder_val)));
    yyjson_mut_set_strn(folder_val, folder.data(), folder.size());
    yyjson_mut_val *auth = yyjson_mut_obj_get(root, "auth");
    if (yyjson_mut_equals_str(yyjson_mut_obj_get(auth, "type"), "")) yyjson_mut_obj_clear(auth);
    if (yyjson_mut_get_len(yyjson_mut_obj_get(root, "body")) == 0) {
        yyjson_mut_obj_remove_key(root, "body_type");
    }
    char *text = yyjson_mut_write(copy, 0, nullptr);
    std::string out = text ? text : "";
    std::free(text);
    yyjson_mut_doc_free(copy);
    return out;
}

// Text of an item JSON without its "postman" member, and of that member's
// element with every auth object in v2.1's parameter lists.
std::string without_kept(const std::string &item) {
    FuzzDoc doc = fuzz_parse(item);
    yyjson_mut_doc *copy = yyjson_doc_mut_copy(doc.get(), nullptr);
    yyjson_mut_obj_remove_key(yyjson_mut_doc_get_root(copy), "postman");
    char *text = yyjson_mut_write(copy, 0, nullptr);
    std::string out = text ? text : "";
    std::free(text);
    yyjson_mut_doc_free(copy);
    return out;
}

void auth_as_lists(yyjson_mut_doc *d, yyjson_mut_val *auth) {
    yyjson_mut_val *type = yyjson_mut_obj_get(auth, "type");
    yyjson_mut_val *params = yyjson_mut_is_str(type) ? yyjson_mut_obj_getn(auth, yyjson_mut_get_str(type), yyjson_mut_get_len(type)) : nullptr;
    if (!yyjson_mut_is_obj(params)) return;
    yyjson_mut_val *list = yyjson_mut_arr(d);
    yyjson_mut_obj_iter it = yyjson_mut_obj_iter_with(params);
    for (yyjson_mut_val *k; (k = yyjson_mut_obj_iter_next(&it));) {
        yyjson_mut_val *v = yyjson_mut_obj_iter_get_val(k);
        yyjson_mut_val *entry = yyjson_mut_arr_add_obj(d, list);
        yyjson_mut_obj_add_val(d, entry, "key", yyjson_mut_val_mut_copy(d, k));
        yyjson_mut_obj_add_val(d, entry, "value", yyjson_mut_val_mut_copy(d, v));
        yyjson_mut_obj_add_str(d, entry, "type", yyjson_mut_is_str(v) ? "string" : yyjson_mut_is_bool(v) ? "boolean"
                                                 : yyjson_mut_is_num(v) ? "number" : "any");
    }
    yyjson_mut_obj_replace(auth, yyjson_mut_val_mut_copy(d, type), list);
}

std::string kept_element(const std::string &item) {
    FuzzDoc doc = fuzz_parse(item);
    yyjson_val *kept = yyjson_obj_get(yyjson_obj_get(yyjson_doc_get_root(doc.get()), "postman"), "item");
    if (!kept) return "";
    yyjson_mut_doc *copy = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_val_mut_copy(copy, kept);
    yyjson_mut_doc_set_root(copy, root);
    auth_as_lists(copy, yyjson_mut_obj_get(yyjson_mut_obj_get(root, "request"), "auth"));
    yyjson_mut_val *response;
    yyjson_mut_arr_iter it = yyjson_mut_arr_iter_with(yyjson_mut_obj_get(root, "response"));
    while ((response = yyjson_mut_arr_iter_next(&it)))
        auth_as_lists(copy, yyjson_mut_obj_get(yyjson_mut_obj_get(response, "originalRequest"), "auth"));
    char *text = yyjson_mut_write(copy, 0, nullptr);
    std::string out = text ? text : "";
    std::free(text);
    yyjson_mut_doc_free(copy);
    return out;
}

bool known_difference(std::string_view input, const std::vector<std::string> &first,
                      const std::vector<std::string> &second) {
    if (input.find("\\u0000") != std::string_view::npos) return true;
    if (first.size() != second.size()) return false;
    for (std::size_t i = 0; i < first.size(); ++i) {
        std::string a = without_kept(first[i]), b = without_kept(second[i]);
        if (a != b && with_known_forms(a) != with_known_forms(b)) return false;
        if (kept_element(first[i]) != kept_element(second[i])) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz_reset();
    fuzz_add_kept_item();
    const std::string path = fuzz_temp_path("postman_full.json");
    fuzz_write_file(path, data, size);

    FuzzDoc doc = fuzz_parse(std::string_view(reinterpret_cast<const char *>(data), size));
    yyjson_val *root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    bool importable = yyjson_is_arr(yyjson_obj_get(root, "item"));
    int imported = api_import_postman_full(path.c_str());
    std::vector<std::string> first = fuzz_collection_items();
    FUZZ_CHECK(imported == (importable ? 1 : 0),
               "api_import_postman_full returned " + std::to_string(imported) + ": " + api_last_error());
    if (!imported) {
        FUZZ_CHECK(std::string(api_last_error()).rfind("api_import_postman_full: ", 0) == 0, api_last_error());
        FUZZ_CHECK(fuzz_only_kept_item(), "a failed import changed the collection:\n" + fuzz_listing(first));
        FUZZ_CHECK(std::string(api_postman_report_json()) == "{}", api_postman_report_json());
        return 0;
    }
    check_report("import");
    for (const std::string &item : first) FUZZ_CHECK(fuzz_parse(item) != nullptr, "item JSON " + item);

    const std::string exported = fuzz_temp_path("exported_full.json");
    FUZZ_CHECK(api_export_postman_full(exported.c_str()) == 1, api_last_error());
    check_report("export");
    FUZZ_CHECK(api_import_postman_full(exported.c_str()) == 1, api_last_error());
    check_report("import");
    std::vector<std::string> second = fuzz_collection_items();
    std::string_view input(reinterpret_cast<const char *>(data), size);
    FUZZ_CHECK(second == first || known_difference(input, first, second),
               "imported:\n" + fuzz_listing(first) + "after full export and import:\n" + fuzz_listing(second) +
                   "exported file:\n" + fuzz_read_file(exported));
    return 0;
}
