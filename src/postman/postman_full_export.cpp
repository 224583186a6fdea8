// Writes the collection as a Postman v2.1 file that the full import reads
// back to the same items: folders as item groups, each body type as its mode,
// auth in the format's own shape.
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "collection/collection.h"
#include "util/alloc.h"
#include "platform/platform.h"
#include "postman/postman.h"
#include "postman/postman_full.h"
#include "quorvane_apiclient.h"
#include "url/url.h"
#include "util/json_build.h"
#include "util/util.h"

namespace {

constexpr const char *schema_url = "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

struct Language {
    const char *name;
    const char *type;
};
constexpr Language languages[] = {
    {"text", "text/plain"}, {"javascript", "application/javascript"}, {"html", "text/html"}, {"xml", "application/xml"}};

// Builds one request item in doc. Every text is copied: the item's parsed
// JSON is released before the next item is asked for.
struct ItemWriter {
    JsonBuild b;
    yyjson_val *item;
    PmPlace at;
    bool any_content_type = false;  // a Content-Type header in any case

    void pair(yyjson_mut_val *list, const char *key, std::size_t klen, const char *value, std::size_t vlen) noexcept {
        yyjson_mut_val *p = b.obj();
        b.add_text(p, "key", key, klen);
        b.add_text(p, "value", value, vlen);
        b.append(list, p);
    }
    const char *str(const char *key) noexcept { return ac_json_str(item, key, ""); }

    // {"query":<string>[,"variables":<text>]} as the import builds it goes back to graphql.
    yyjson_mut_val *graphql(const char *s, std::size_t len) noexcept {
        const char *head = "{\"query\":\"";
        if (len < std::strlen(head) + 2 || std::strncmp(s, head, std::strlen(head)) != 0 || s[len - 1] != '}') return nullptr;
        std::size_t i = std::strlen(head);
        while (i < len && s[i] != '"') i += s[i] == '\\' ? 2 : 1;
        if (i >= len) return nullptr;
        std::size_t lit_begin = std::strlen(head) - 1, lit_end = i + 1;
        const char *vars = ",\"variables\":";
        std::size_t rest = len - 1 - lit_end;
        bool has_vars = rest > std::strlen(vars) && std::strncmp(s + lit_end, vars, std::strlen(vars)) == 0;
        if (rest != 0 && !has_vars) return nullptr;
        unique_doc literal(ac_json_read(s + lit_begin, lit_end - lit_begin));
        yyjson_val *query = yyjson_doc_get_root(literal.get());
        DynBuf again;
        if (!yyjson_is_str(query) || !ac_pm_json_string(again, yyjson_get_str(query), yyjson_get_len(query)) ||
            again.len() != lit_end - lit_begin || std::memcmp(again.c_str(), s + lit_begin, again.len()) != 0)
            return nullptr;
        yyjson_mut_val *gql = b.obj();
        b.add_text(gql, "query", yyjson_get_str(query), yyjson_get_len(query));
        std::size_t vb = lit_end + std::strlen(vars);
        if (has_vars) b.add_text(gql, "variables", s + vb, len - 1 - vb);
        return gql;
    }

    void multipart(yyjson_mut_val *body, const char *text, std::size_t len) noexcept {
        unique_doc parts(ac_json_read(text, len));
        yyjson_mut_val *list = b.arr();
        b.add(body, "formdata", list);
        yyjson_val *part;
        yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_doc_get_root(parts.get()));
        while (b.ok() && (part = yyjson_arr_iter_next(&it))) {
            yyjson_mut_val *p = b.obj();
            b.append(list, p);
            b.add_text(p, "key", ac_json_str(part, "name", ""));
            const char *file = ac_json_str(part, "file", nullptr);
            const char *type = ac_json_str(part, "content_type", nullptr);
            if (file) {
                b.add_text(p, "type", "file");
                b.add_text(p, "src", file);
                if (type && std::strcmp(type, ac_pm_file_type(file, std::strlen(file))) == 0) type = nullptr;
                const char *filename = ac_json_str(part, "filename", nullptr);
                const char *slash = std::strrchr(file, '/');
                if (filename && std::strcmp(filename, slash ? slash + 1 : file) != 0)
                    ac_pm_note(at, "body", "part file name '%s' not carried: the runner sends the file's own", filename);
            } else {
                b.add_text(p, "value", ac_json_str(part, "value", ""));
                b.add_text(p, "type", "text");
            }
            if (type) b.add_text(p, "contentType", type);
        }
    }

    void urlencoded(yyjson_mut_val *body, const char *s, std::size_t len) noexcept {
        yyjson_mut_val *list = b.arr();
        b.add(body, "urlencoded", list);
        PlaceholderScan scan(s, len);
        for (std::size_t from = 0; b.ok() && from <= len;) {
            // A placeholder's name may hold '&' or '=': it is one piece.
            std::size_t e = scan.find(from, len, "&");
            std::size_t k = scan.find(from, e, "=");
            DynBuf key, value;
            b.check(decoded(key, s + from, k - from) && (k == e || decoded(value, s + k + 1, e - k - 1)));
            if (e > from) pair(list, key.c_str(), key.len(), value.c_str(), value.len());
            from = e + 1;
        }
    }

    // A %XX escape of a byte that is not UTF-8 cannot be a JSON string, so
    // such a piece stays as it was encoded rather than failing the export.
    static bool decoded(DynBuf &out, const char *s, std::size_t len) noexcept {
        if (!ac_url_decode(out, s, len, true)) return false;
        if (ac_utf8_valid(out.c_str(), out.len())) return true;
        out.reset();
        return out.append(s, len);
    }

    // The body by its type; a Content-Type the import added goes back into the mode.
    void body(yyjson_mut_val *request, yyjson_mut_val *headers, long content_type) noexcept {
        const char *type = str("body_type");
        yyjson_val *text_val = yyjson_obj_get(item, "body");
        const char *text = yyjson_get_str(text_val);
        std::size_t len = yyjson_get_len(text_val);
        if (!text || len == 0) return;
        const char *ct = content_type >= 0 ? yyjson_mut_get_str(yyjson_mut_arr_get(headers, static_cast<std::size_t>(content_type))) : nullptr;
        yyjson_mut_val *node = b.obj();
        b.add(request, "body", node);
        bool drop_type = false;
        if (ac_ascii_ieq(type, "json")) {
            if (yyjson_mut_val *gql = graphql(text, len)) {
                b.add_text(node, "mode", "graphql");
                b.add(node, "graphql", gql);
                return;
            }
            b.add_text(node, "mode", "raw");
            b.add_text(node, "raw", text, len);
            yyjson_mut_val *options = b.obj(), *raw = b.obj();
            b.add_text(raw, "language", "json");
            b.add(options, "raw", raw);
            b.add(node, "options", options);
        } else if (ac_ascii_ieq(type, "form")) {
            b.add_text(node, "mode", "urlencoded");
            urlencoded(node, text, len);
        } else if (ac_ascii_ieq(type, "multipart")) {
            b.add_text(node, "mode", "formdata");
            multipart(node, text, len);
        } else if (ac_ascii_ieq(type, "file")) {
            b.add_text(node, "mode", "file");
            yyjson_mut_val *file = b.obj();
            b.add_text(file, "src", text, len);
            b.add(node, "file", file);
            drop_type = ct && std::strcmp(ct, ac_pm_file_type(text, len)) == 0;
        } else {
            if (!ac_ascii_ieq(type, "raw")) ac_pm_note(at, "body", "body type '%s' written as raw", type);
            b.add_text(node, "mode", "raw");
            b.add_text(node, "raw", text, len);
            const char *language = nullptr;
            for (const Language &l : languages) {
                if (ct && std::strcmp(ct, l.type) == 0) language = l.name;
            }
            if (language) {
                yyjson_mut_val *options = b.obj(), *raw = b.obj();
                b.add_text(raw, "language", language);
                b.add(options, "raw", raw);
                b.add(node, "options", options);
                drop_type = true;
            } else if (!any_content_type) {
                ac_pm_note(at, "body", "raw body without Content-Type: the runner adds text/plain");
            }
        }
        if (drop_type) yyjson_mut_arr_remove(headers, static_cast<std::size_t>(content_type));
    }

    yyjson_mut_val *build() noexcept {
        yyjson_mut_val *out = b.obj();
        b.add_text(out, "name", ac_json_str(item, "name", "Request"));
        yyjson_mut_val *request = b.obj();
        const char *method = ac_json_str(item, "method", "GET");
        b.add_text(request, "method", method);
        // Header values first as a list of values, keyed by position, so the
        // body can take back the Content-Type the import added.
        yyjson_mut_val *names = b.arr(), *values = b.arr();
        long content_type = -1;
        yyjson_obj_iter it = yyjson_obj_iter_with(yyjson_obj_get(item, "headers"));
        for (yyjson_val *k; b.ok() && (k = yyjson_obj_iter_next(&it));) {
            yyjson_val *v = yyjson_obj_iter_get_val(k);
            if (std::strcmp(yyjson_get_str(k), "Content-Type") == 0) content_type = static_cast<long>(yyjson_mut_arr_size(values));
            any_content_type = any_content_type || ac_ascii_ieq(yyjson_get_str(k), "Content-Type");
            b.append(names, b.text(yyjson_get_str(k), yyjson_get_len(k)));
            b.append(values, b.text(yyjson_is_str(v) ? yyjson_get_str(v) : "", yyjson_get_len(v)));
        }
        if (!b.ok()) return nullptr;
        std::size_t before = yyjson_mut_arr_size(values);
        body(request, values, content_type);
        if (yyjson_mut_arr_size(values) < before) yyjson_mut_arr_remove(names, static_cast<std::size_t>(content_type));
        yyjson_mut_val *header = b.arr();
        // Only a verbatim item sends an empty header value; for the others it
        // keeps libcurl's own header of that name out, which the format cannot
        // say, so the header is written switched off.
        bool verbatim = yyjson_is_true(yyjson_obj_get(item, "verbatim"));
        for (std::size_t i = 0; b.ok() && i < yyjson_mut_arr_size(names); ++i) {
            yyjson_mut_val *n = yyjson_mut_arr_get(names, i), *v = yyjson_mut_arr_get(values, i);
            pair(header, yyjson_mut_get_str(n), yyjson_mut_get_len(n), yyjson_mut_get_str(v), yyjson_mut_get_len(v));
            if (!verbatim && yyjson_mut_get_len(v) == 0) {
                b.add_true(yyjson_mut_arr_get_last(header), "disabled");
                ac_pm_note(at, "header", "empty '%s' written switched off: it is not sent", yyjson_mut_get_str(n));
            }
        }
        b.add(request, "header", header);

        const char *url = str("url");
        yyjson_mut_val *u = b.obj();
        b.add_text(u, "raw", url);
        b.check(b.ok() && ac_url_split(b.doc(), u, url, std::strlen(url)));
        b.add(request, "url", u);
        bool auth_ok = true;
        yyjson_mut_val *auth = b.ok() ? ac_pm_export_auth(b.doc(), yyjson_obj_get(item, "auth"), &auth_ok) : nullptr;
        b.check(auth_ok);
        if (auth) b.add(request, "auth", auth);
        b.add(out, "request", request);
        // A GET or HEAD body is only sent when pruning is switched off; a URL
        // that encoding would change was imported with encoding switched off.
        bool keep_body = ac_pm_pruned_method(method) && yyjson_mut_obj_get(request, "body");
        DynBuf encoded;
        bool raw_only = false;
        b.check(ac_pm_build_url(encoded, yyjson_obj_get(item, "url"), true, &raw_only));
        bool keep_url = encoded.len() != std::strlen(url) || std::memcmp(encoded.c_str(), url, encoded.len()) != 0;
        if (keep_body || keep_url) {
            yyjson_mut_val *behaviour = b.obj();
            if (keep_body) b.add_true(behaviour, "disableBodyPruning");
            if (keep_url) b.add_true(behaviour, "disableUrlEncoding");
            b.add(out, "protocolProfileBehavior", behaviour);
        }
        return b.ok() ? out : nullptr;
    }
};

// The open item groups, outermost first: consecutive items of one folder
// share its group, so the file walks back to the collection's order.
struct Groups {
    DynBuf open;  // the open groups' folder path, each name followed by '/'
    yyjson_mut_val **lists = nullptr;  // lists[0]: the root list; lists[k]: the k-th open group's
    std::size_t *ends = nullptr;       // ends[k]: where the name of group k+1 ends in `open`
    std::size_t depth = 0;
    std::size_t cap = 0;

    Groups() = default;
    Groups(const Groups &) = delete;
    Groups &operator=(const Groups &) = delete;
    ~Groups() {
        ac_free(lists);
        ac_free(ends);
    }

    bool reserve(std::size_t n) noexcept {
        if (n < cap) return true;
        std::size_t want = cap ? cap * 2 : 16;
        if (want <= n) want = n + 1;
        auto *l = static_cast<yyjson_mut_val **>(ac_realloc(lists, want * sizeof *lists));
        if (l) lists = l;
        auto *e = static_cast<std::size_t *>(ac_realloc(ends, want * sizeof *ends));
        if (e) ends = e;
        if (!l || !e) return false;
        cap = want;
        return true;
    }

    // The item list for `folder` ("a/b"), opening groups as needed.
    yyjson_mut_val *list_for(yyjson_mut_doc *doc, const char *s) noexcept {
        std::size_t level = 0, len = std::strlen(s);
        for (std::size_t b = 0; len > 0 && b <= len;) {
            const void *slash = std::memchr(s + b, '/', len - b);
            std::size_t e = slash ? static_cast<std::size_t>(static_cast<const char *>(slash) - s) : len;
            if (level < depth && ends[level] == e && std::memcmp(open.c_str() + b, s + b, e - b) == 0) {
                ++level;
            } else {
                depth = level;
                open.truncate(b);
                yyjson_mut_val *group = yyjson_mut_obj(doc);
                yyjson_mut_val *items = yyjson_mut_arr(doc);
                if (!reserve(level + 1) || !group || !items || !yyjson_mut_obj_add_strncpy(doc, group, "name", s + b, e - b) ||
                    !yyjson_mut_obj_add_val(doc, group, "item", items) || !yyjson_mut_arr_append(lists[level], group) ||
                    !open.append(s + b, e - b) || !open.append_byte('/'))
                    return nullptr;
                ends[level] = e;
                lists[++level] = items;
                depth = level;
            }
            b = e + 1;
        }
        depth = level;
        return lists[level];
    }
};

// One item of the collection, parsed from its item JSON.
struct ParsedItem {
    unique_doc doc;
    yyjson_val *item = nullptr;
    yyjson_val *kept = nullptr;  // its postman member, when it has one

    bool read(int index) noexcept {
        // An item reads as "{}" only when memory ran out.
        const char *json = api_collection_get_json(index);
        doc.reset(std::strcmp(json, "{}") == 0 ? nullptr : ac_json_read(json, std::strlen(json)));
        item = yyjson_doc_get_root(doc.get());
        kept = yyjson_obj_get(item, "postman");
        return item != nullptr;
    }
    long long ref() const noexcept {
        yyjson_val *r = yyjson_obj_get(kept, "ref");
        return yyjson_is_int(r) ? yyjson_get_sint(r) : -1;
    }
};

// Writes the items: those the document's layout names in their place, then
// the others (added by a host, or with no layout) by folder path as the
// collection orders them.
class Export {
public:
    Export(yyjson_mut_doc *d, int count) noexcept : b_(d), count_(count) {}
    Export(const Export &) = delete;
    Export &operator=(const Export &) = delete;
    ~Export() {
        ac_free(placed_);
        ac_free(by_ref_);
        ac_free(frames_);
    }

    bool layout(yyjson_val *list, yyjson_mut_val *out) noexcept;
    bool rest(yyjson_mut_val *root_items) noexcept;
    int written() const noexcept { return written_; }
    JsonBuild &builder() noexcept { return b_; }

private:
    struct Frame {
        yyjson_arr_iter in;
        yyjson_mut_val *out;
    };

    bool start() noexcept {
        if (placed_ || count_ == 0) return true;
        placed_ = static_cast<bool *>(ac_malloc(static_cast<std::size_t>(count_) * sizeof(bool)));
        if (placed_) std::memset(placed_, 0, static_cast<std::size_t>(count_) * sizeof(bool));
        return placed_ != nullptr;
    }
    // The index of the item the layout names `ref`, or -1: its own index,
    // unless a load dropped items before it.
    int find(long long ref, ParsedItem &p) noexcept;
    bool write(int index, ParsedItem &p, yyjson_mut_val *list) noexcept;
    bool push(yyjson_val *in, yyjson_mut_val *out) noexcept;
    int fail() noexcept {
        b_.check(false);
        return -1;
    }

    JsonBuild b_;
    int count_;
    bool *placed_ = nullptr;
    int *by_ref_ = nullptr;
    Frame *frames_ = nullptr;
    std::size_t depth_ = 0, cap_ = 0;
    int written_ = 0;
};

int Export::find(long long ref, ParsedItem &p) noexcept {
    if (ref >= 0 && ref < count_ && p.read(static_cast<int>(ref)) && p.ref() == ref) return static_cast<int>(ref);
    // Refs are the indexes an import gave, so below the collection's limit.
    if (!by_ref_) {
        by_ref_ = static_cast<int *>(ac_malloc(max_collection_items * sizeof(int)));
        if (!by_ref_) return fail();
        for (int i = 0; i < max_collection_items; ++i) by_ref_[i] = -1;
        for (int i = 0; i < count_; ++i) {
            if (!p.read(i)) return fail();
            long long r = p.ref();
            if (r >= 0 && r < max_collection_items && by_ref_[r] < 0) by_ref_[r] = i;
        }
    }
    int index = ref >= 0 && ref < max_collection_items ? by_ref_[ref] : -1;
    if (index >= 0 && !p.read(index)) return fail();
    return index;
}

bool Export::write(int index, ParsedItem &p, yyjson_mut_val *list) noexcept {
    placed_[index] = true;
    const char *folder = ac_json_str(p.item, "folder", "");
    const char *name = ac_json_str(p.item, "name", "Request");
    yyjson_val *written = yyjson_obj_get(p.kept, "item");
    bool unchanged = yyjson_is_obj(written) && ac_collection_item_unchanged(index);
    yyjson_mut_val *out = nullptr;
    if (unchanged) {
        out = ac_pm_kept_item(b_, written, name, nullptr, nullptr);
    } else {
        ItemWriter writer{JsonBuild(b_.doc()), p.item, PmPlace{folder, name}};
        yyjson_mut_val *built = writer.build();
        b_.check(built != nullptr);
        // A request the host changed is built anew; the rest of what was kept stays.
        if (built && yyjson_is_obj(written)) {
            out = ac_pm_kept_item(b_, written, name, yyjson_mut_obj_get(built, "request"),
                                  yyjson_mut_obj_get(built, "protocolProfileBehavior"));
        } else {
            out = built;
        }
    }
    b_.append(list, out);
    if (b_.ok()) ++written_;
    return b_.ok();
}

bool Export::push(yyjson_val *in, yyjson_mut_val *out) noexcept {
    if (depth_ == cap_) {
        std::size_t want = cap_ ? cap_ * 2 : 16;
        auto *grown = static_cast<Frame *>(ac_realloc(frames_, want * sizeof(Frame)));
        if (!grown) return b_.check(false);
        frames_ = grown;
        cap_ = want;
    }
    frames_[depth_++] = Frame{yyjson_arr_iter_with(in), out};
    return true;
}

bool Export::layout(yyjson_val *list, yyjson_mut_val *out) noexcept {
    if (!start() || !push(list, out)) return b_.check(false);
    ParsedItem p;
    while (depth_ > 0 && b_.ok()) {
        Frame &top = frames_[depth_ - 1];
        yyjson_val *entry = yyjson_arr_iter_next(&top.in);
        if (!entry) {
            --depth_;
            continue;
        }
        yyjson_mut_val *into = top.out;
        if (yyjson_is_int(entry)) {
            // A request gone from the collection leaves no trace.
            int index = find(yyjson_get_sint(entry), p);
            if (index >= 0 && !placed_[index]) write(index, p, into);
        } else if (yyjson_is_arr(yyjson_obj_get(entry, "item"))) {
            yyjson_mut_val *items = nullptr;
            yyjson_mut_val *folder = ac_pm_kept_folder(b_, entry, &items);
            b_.append(into, folder);
            if (b_.ok()) push(yyjson_obj_get(entry, "item"), items);
        } else {
            b_.append(into, b_.copy(entry));
        }
    }
    return b_.ok();
}

bool Export::rest(yyjson_mut_val *root_items) noexcept {
    Groups groups;
    if (!start() || !groups.reserve(0)) return b_.check(false);
    groups.lists[0] = root_items;
    ParsedItem p;
    for (int i = 0; i < count_ && b_.ok(); ++i) {
        if (placed_ && placed_[i]) continue;
        if (!p.read(i)) return b_.check(false);
        yyjson_mut_val *list = groups.list_for(b_.doc(), ac_json_str(p.item, "folder", ""));
        if (!list) return b_.check(false);
        write(i, p, list);
    }
    return b_.ok();
}

// NULL when the document cannot be built, with *no_memory set when memory ran out.
char *export_text(std::size_t *len, int *written, int *variables, bool *no_memory) noexcept {
    *no_memory = true;
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    if (!doc) return nullptr;
    yyjson_mut_doc *d = doc.get();
    Export out(d, api_collection_count());
    JsonBuild &b = out.builder();
    const char *text = ac_collection_document();
    unique_doc document(text ? ac_json_read(text, std::strlen(text)) : nullptr);
    if (text && !document) return nullptr;
    yyjson_val *kept = yyjson_doc_get_root(document.get());
    yyjson_mut_val *root = nullptr, *items = nullptr;
    if (kept) {
        root = ac_pm_kept_root(b, kept, &items);
        *variables = static_cast<int>(yyjson_arr_size(yyjson_obj_get(kept, "variable")));
    } else {
        root = b.obj();
        yyjson_mut_val *info = b.obj();
        b.add_text(info, "name", ac_pm_export_name);
        b.add_text(info, "schema", schema_url);
        b.add(root, "info", info);
        items = b.arr();
        b.add(root, "item", items);
    }
    yyjson_val *layout = yyjson_obj_get(kept, "item");
    if (b.ok() && yyjson_is_arr(layout)) out.layout(layout, items);
    if (b.ok()) out.rest(items);
    *written = out.written();
    if (!b.ok()) return nullptr;
    yyjson_mut_doc_set_root(d, root);
    return ac_json_write_pretty(d, len, no_memory);
}

}  // namespace

extern "C" int api_export_postman_full(const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("api_export_postman_full: null or empty path");
        return 0;
    }
    ac_postman_report_begin("export");
    std::size_t len = 0;
    int written = 0, variables = 0;
    bool no_memory = false;
    unique_cstr text(export_text(&len, &written, &variables, &no_memory));
    if (!text) {
        ac_postman_report_discard();
        ac_set_error(no_memory ? "api_export_postman_full: out of memory" : "api_export_postman_full: failed to generate JSON");
        return 0;
    }
    if (!ac_postman_report_end(api_collection_count(), written, variables, 0)) {
        ac_set_error("api_export_postman_full: out of memory");
        return 0;
    }
    if (!ac_write_file_atomic(path, text.get(), len)) {
        ac_postman_report_discard();
        ac_set_error("api_export_postman_full: failed to write to '%s'", path);
        return 0;
    }
    ac_postman_report_publish();
    return 1;
}
