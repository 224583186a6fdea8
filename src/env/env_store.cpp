#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apiclient/apiclient.h"
#include "util/alloc.h"
#include "env/env.h"
#include "quorvane_apiclient.h"
#include "util/dynbuf.h"
#include "util/util.h"

namespace {

constexpr int max_env_entries = max_env_variables;
constexpr std::size_t env_get_size = 8192;
constexpr std::size_t load_text_size = 512;

struct EnvEntry {
    char *key;
    char *value;
};

EnvEntry s_env_entries[max_env_entries];
int s_env_count = 0;
char s_env_get_buf[env_get_size];
// Holds the whole listing, however long.
ResultBuf s_env_json_buf;

EnvEntry *find_entry(const char *key) noexcept {
    for (int i = 0; i < s_env_count; ++i) {
        if (std::strcmp(s_env_entries[i].key, key) == 0) return &s_env_entries[i];
    }
    return nullptr;
}

void release_entries() noexcept {
    for (int i = 0; i < s_env_count; ++i) {
        ac_free(s_env_entries[i].key);
        ac_free(s_env_entries[i].value);
        s_env_entries[i] = EnvEntry{};
    }
    s_env_count = 0;
}

const char *set_env_json(const char *text, std::size_t len) noexcept { return s_env_json_buf.set(text, len, "{}"); }

// The text an environment file's member value becomes; false when memory
// runs out.
bool load_value_text(yyjson_val *v, char *out, std::size_t cap) noexcept {
    if (yyjson_is_sint(v)) {
        std::snprintf(out, cap, "%lld", static_cast<long long>(yyjson_get_sint(v)));
    } else if (yyjson_is_uint(v)) {
        // Unsigned values above INT64_MAX keep their real digits.
        std::snprintf(out, cap, "%" PRIu64, yyjson_get_uint(v));
    } else if (yyjson_is_real(v)) {
        std::snprintf(out, cap, "%g", yyjson_get_real(v));
    } else if (yyjson_is_bool(v)) {
        std::snprintf(out, cap, "%s", yyjson_get_bool(v) ? "true" : "false");
    } else if (yyjson_is_null(v)) {
        std::snprintf(out, cap, "null");
    } else {
        unique_cstr text(yyjson_val_write_opts(v, 0, ac_alc(), nullptr, nullptr));
        if (!text) return false;
        // A cut inside a character would make the whole api_env_json "{}".
        ac_copy_text_utf8(out, cap, text.get());
    }
    return true;
}

// One member of a file being loaded, copied before the store changes.
struct Staged {
    char *key;
    char *value;
};

// Puts a copied member in the store, as api_env_set would, without allocating:
// the copies are taken over or released.
void apply(Staged &m) noexcept {
    if (!*m.key) {
        ac_set_error("api_env_set: empty or null key");
    } else if (EnvEntry *e = find_entry(m.key)) {
        ac_free(e->value);
        e->value = m.value;
        m.value = nullptr;
    } else if (s_env_count < max_env_entries) {
        s_env_entries[s_env_count++] = EnvEntry{m.key, m.value};
        m = Staged{};
    } else {
        ac_set_error("api_env_set: maximum environment variables (%d) reached", max_env_entries);
    }
    ac_free(m.key);
    ac_free(m.value);
}

// Merges the members of an environment file's object: every text is copied
// first, so that running out of memory changes nothing (false, with the
// message set). A member the store refuses is passed over.
bool merge(yyjson_val *root) noexcept {
    std::size_t n = yyjson_obj_size(root);
    auto *staged = static_cast<Staged *>(ac_malloc((n ? n : 1) * sizeof(Staged)));
    bool ok = staged != nullptr;
    std::size_t count = 0;
    yyjson_obj_iter it = yyjson_obj_iter_with(root);
    for (yyjson_val *k; ok && (k = yyjson_obj_iter_next(&it)); ++count) {
        yyjson_val *v = yyjson_obj_iter_get_val(k);
        char text[load_text_size];
        const char *value = yyjson_is_str(v) ? yyjson_get_str(v) : text;
        ok = yyjson_is_str(v) || load_value_text(v, text, sizeof text);
        staged[count] = Staged{ok ? ac_strdup(yyjson_get_str(k)) : nullptr, ok ? ac_strdup(value) : nullptr};
        ok = ok && staged[count].key && staged[count].value;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (ok) {
            apply(staged[i]);
        } else {
            ac_free(staged[i].key);
            ac_free(staged[i].value);
        }
    }
    ac_free(staged);
    if (!ok) ac_set_error("api_env_load: out of memory");
    return ok;
}

}  // namespace

void ac_env_init() noexcept {
    release_entries();
    set_env_json("{}", 2);
}

void ac_env_cleanup() noexcept {
    release_entries();
    s_env_json_buf.release();
}

EnvSet ac_env_set(const char *key, const char *value) noexcept {
    if (!key || !*key) {
        ac_set_error("api_env_set: empty or null key");
        return EnvSet::refused;
    }
    if (!value) value = "";
    if (EnvEntry *e = find_entry(key)) {
        char *copy = ac_strdup(value);
        if (!copy) {
            ac_set_error("api_env_set: out of memory");
            return EnvSet::no_memory;
        }
        ac_free(e->value);
        e->value = copy;
        return EnvSet::ok;
    }
    if (s_env_count >= max_env_entries) {
        ac_set_error("api_env_set: maximum environment variables (%d) reached", max_env_entries);
        return EnvSet::refused;
    }
    char *k = ac_strdup(key);
    char *v = ac_strdup(value);
    if (!k || !v) {
        ac_free(k);
        ac_free(v);
        ac_set_error("api_env_set: out of memory");
        return EnvSet::no_memory;
    }
    s_env_entries[s_env_count++] = EnvEntry{k, v};
    return EnvSet::ok;
}

bool ac_env_has(const char *key) noexcept { return key && find_entry(key); }

EnvBatch::~EnvBatch() {
    for (std::size_t i = 0; i < count_; ++i) {
        ac_free(entries_[i].key);
        ac_free(entries_[i].value);
    }
    ac_free(entries_);
    ac_free(set_);
    ac_free(full_);
}

bool EnvBatch::grow() noexcept {
    std::size_t want = cap_ ? cap_ * 2 : 16;
    auto *e = static_cast<Entry *>(ac_realloc(entries_, want * sizeof(Entry)));
    if (e) entries_ = e;
    auto *s = static_cast<bool *>(ac_realloc(set_, want * sizeof(bool)));
    if (s) set_ = s;
    auto *f = static_cast<bool *>(ac_realloc(full_, want * sizeof(bool)));
    if (f) full_ = f;
    if (!e || !s || !f) return false;
    cap_ = want;
    return true;
}

bool EnvBatch::add(const char *key, const char *value) noexcept {
    if (count_ == cap_ && !grow()) return false;
    Entry e{ac_strdup(key), ac_strdup(value ? value : "")};
    if (!e.key || !e.value) {
        ac_free(e.key);
        ac_free(e.value);
        return false;
    }
    entries_[count_] = e;
    set_[count_] = full_[count_] = false;
    ++count_;
    return true;
}

void EnvBatch::plan() noexcept {
    int room = max_env_entries - s_env_count;
    // A repeated key can only meet an entry planned to be set (an earlier one
    // that is not set either exists already or found no room, and so does
    // this one), and takes its place: the later one wins. At most `room`
    // entries are planned, so the check stays short.
    std::size_t planned[max_env_entries];
    std::size_t n_planned = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        set_[i] = full_[i] = false;
        const char *k = entries_[i].key;
        std::size_t j = 0;
        while (j < n_planned && std::strcmp(entries_[planned[j]].key, k) != 0) ++j;
        if (j < n_planned) {
            set_[planned[j]] = false;
            set_[i] = true;
            planned[j] = i;
            continue;
        }
        if (!*k || find_entry(k)) continue;
        if (room == 0) {
            full_[i] = true;
            continue;
        }
        set_[i] = true;
        planned[n_planned++] = i;
        --room;
    }
}

int EnvBatch::apply() noexcept {
    int set = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        if (!set_[i] || s_env_count >= max_env_entries) continue;
        s_env_entries[s_env_count++] = EnvEntry{entries_[i].key, entries_[i].value};
        entries_[i] = Entry{nullptr, nullptr};
        set_[i] = false;
        ++set;
    }
    return set;
}

extern "C" int api_env_unset(const char *key) noexcept {
    if (!key || !*key) {
        ac_set_error("api_env_unset: empty or null key");
        return 0;
    }
    EnvEntry *e = find_entry(key);
    if (!e) return 1;
    ac_free(e->key);
    ac_free(e->value);
    // The listing keeps the order the variables were set in.
    EnvEntry *end = s_env_entries + s_env_count;
    std::memmove(e, e + 1, static_cast<std::size_t>(end - e - 1) * sizeof *e);
    s_env_entries[--s_env_count] = EnvEntry{};
    return 1;
}

extern "C" int api_env_set(const char *key, const char *value) noexcept {
    return ac_env_set(key, value) == EnvSet::ok ? 1 : 0;
}

extern "C" const char *api_env_get(const char *key) noexcept {
    if (!key || !*key) return "";
    const EnvEntry *e = find_entry(key);
    if (!e) return "";
    ac_copy_text(s_env_get_buf, sizeof s_env_get_buf, e->value);
    return s_env_get_buf;
}

extern "C" const char *api_env_json(void) noexcept {
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    yyjson_mut_val *root = doc ? yyjson_mut_obj(doc.get()) : nullptr;
    if (!root) return set_env_json("{}", 2);
    yyjson_mut_doc_set_root(doc.get(), root);
    for (int i = 0; i < s_env_count; ++i) {
        // A listing with a variable missing would read as a whole one.
        if (!yyjson_mut_obj_add_str(doc.get(), root, s_env_entries[i].key, s_env_entries[i].value))
            return set_env_json("{}", 2);
    }
    std::size_t len = 0;
    unique_cstr text(yyjson_mut_write_opts(doc.get(), 0, ac_alc(), &len, nullptr));
    // Invalid UTF-8 in a key or value makes the writer refuse the document.
    if (!text) return set_env_json("{}", 2);
    return set_env_json(text.get(), len);
}

extern "C" int api_env_load(const char *path) noexcept {
    if (!path || !*path) {
        ac_set_error("api_env_load: null or empty path");
        return 0;
    }
    JsonFile status = JsonFile::ok;
    yyjson_read_err err{};
    unique_doc doc(ac_json_read_file(path, &status, &err));
    if (status == JsonFile::no_memory) {
        ac_set_error("api_env_load: out of memory");
        return 0;
    }
    if (status == JsonFile::unreadable) {
        ac_set_error("api_env_load: could not open or read '%s'", path);
        return 0;
    }
    if (!doc) {
        ac_set_error("api_env_load: JSON parse error in '%s': %s", path, err.msg ? err.msg : "unknown");
        return 0;
    }
    yyjson_val *root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_obj(root)) {
        ac_set_error("api_env_load: root element must be a JSON object");
        return 0;
    }
    return merge(root) ? 1 : 0;
}
