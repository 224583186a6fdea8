// A request's headers as the runner sends them.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "postman/postman_full.h"
#include "util/util.h"
#include "util/alloc.h"

namespace {

char lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(const char *a, std::size_t a_len, const char *b, std::size_t b_len) noexcept {
    if (a_len != b_len) return false;
    for (std::size_t i = 0; i < a_len; ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Negative, zero or positive as a sorts before, with or after b, ignoring case.
int compare_names(yyjson_mut_val *a, yyjson_mut_val *b) noexcept {
    const char *x = yyjson_mut_get_str(a), *y = yyjson_mut_get_str(b);
    std::size_t n = yyjson_mut_get_len(a), m = yyjson_mut_get_len(b);
    for (std::size_t i = 0; i < n && i < m; ++i) {
        if (lower(x[i]) != lower(y[i])) return static_cast<unsigned char>(lower(x[i])) < static_cast<unsigned char>(lower(y[i])) ? -1 : 1;
    }
    return n == m ? 0 : n < m ? -1 : 1;
}

bool blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

PmHeaders::~PmHeaders() { ac_free(entries_); }

bool PmHeaders::push(const char *name, std::size_t name_len, const char *value, std::size_t value_len) noexcept {
    if (count_ == cap_) {
        std::size_t want = cap_ ? cap_ * 2 : 16;
        auto *grown = static_cast<Entry *>(ac_realloc(entries_, want * sizeof(Entry)));
        if (!grown) return false;
        entries_ = grown;
        cap_ = want;
    }
    yyjson_mut_val *n = yyjson_mut_strncpy(doc_, name, name_len);
    yyjson_mut_val *v = yyjson_mut_strncpy(doc_, value, value_len);
    if (!n || !v) return false;
    entries_[count_++] = Entry{n, v, false, -1};
    return true;
}

bool PmHeaders::load(yyjson_val *header) noexcept {
    if (yyjson_is_str(header)) {
        // The older "Name: value" lines.
        const char *s = yyjson_get_str(header);
        std::size_t len = yyjson_get_len(header);
        for (std::size_t b = 0; b < len;) {
            const void *nl = std::memchr(s + b, '\n', len - b);
            std::size_t e = nl ? static_cast<std::size_t>(static_cast<const char *>(nl) - s) : len;
            const void *colon = std::memchr(s + b, ':', e - b);
            if (colon) {
                std::size_t c = static_cast<std::size_t>(static_cast<const char *>(colon) - s);
                std::size_t nb = b, ne = c, vb = c + 1, ve = e;
                while (nb < ne && blank(s[nb])) ++nb;
                while (ne > nb && blank(s[ne - 1])) --ne;
                while (vb < ve && blank(s[vb])) ++vb;
                while (ve > vb && blank(s[ve - 1])) --ve;
                // "//" marks a line switched off.
                bool off = ne - nb >= 2 && s[nb] == '/' && s[nb + 1] == '/';
                if (ne > nb && !off && !push(s + nb, ne - nb, s + vb, ve - vb)) return false;
            }
            b = e + 1;
        }
        return collapse();
    }
    yyjson_val *entry;
    yyjson_arr_iter it = yyjson_arr_iter_with(header);
    while ((entry = yyjson_arr_iter_next(&it))) {
        if (!yyjson_is_obj(entry) || yyjson_is_true(yyjson_obj_get(entry, "disabled"))) continue;
        yyjson_val *key = yyjson_obj_get(entry, "key");
        if (!yyjson_is_str(key) || yyjson_get_len(key) == 0) continue;
        char scratch[40];
        std::size_t len = 0;
        const char *value = ac_json_scalar(yyjson_obj_get(entry, "value"), &len, scratch);
        if (!push(yyjson_get_str(key), yyjson_get_len(key), value ? value : "", value ? len : 0)) return false;
    }
    return collapse();
}

// The runner's rule for repeated names, as measured: headers of exactly the
// same name all go out, in order; a name that differs only in case replaces
// the earlier spelling with all its values, at the place the first of them
// had. So of the spellings of one name the one that first appears last wins.
// Sorting keeps it O(n log n) whatever the file holds.
bool PmHeaders::collapse() noexcept {
    if (count_ < 2) return true;
    auto *order = static_cast<std::size_t *>(ac_malloc(count_ * sizeof(std::size_t)));
    if (!order) return false;
    for (std::size_t i = 0; i < count_; ++i) order[i] = i;
    // By name ignoring case, then by exact name, then by position: each
    // spelling is a run within its name's run, led by its first appearance.
    std::sort(order, order + count_, [this](std::size_t a, std::size_t b) {
        if (int c = compare_names(entries_[a].name, entries_[b].name); c != 0) return c < 0;
        if (int c = std::strcmp(yyjson_mut_get_str(entries_[a].name), yyjson_mut_get_str(entries_[b].name)); c != 0) return c < 0;
        return a < b;
    });
    for (std::size_t g = 0; g < count_;) {
        std::size_t e = g + 1;
        while (e < count_ && compare_names(entries_[order[g]].name, entries_[order[e]].name) == 0) ++e;
        std::size_t place = order[g], winner = g;
        for (std::size_t k = g; k < e; ++k) {
            if (order[k] < place) place = order[k];
            bool leads = k == g || std::strcmp(yyjson_mut_get_str(entries_[order[k]].name),
                                               yyjson_mut_get_str(entries_[order[k - 1]].name)) != 0;
            if (leads && order[k] > order[winner]) winner = k;
        }
        std::size_t winner_end = winner + 1;
        while (winner_end < e && std::strcmp(yyjson_mut_get_str(entries_[order[winner_end]].name),
                                             yyjson_mut_get_str(entries_[order[winner]].name)) == 0)
            ++winner_end;
        for (std::size_t k = g; k < e; ++k) entries_[order[k]].removed = true;
        // The winning spelling's values go out together at the name's place.
        Entry &head = entries_[place];
        head.name = entries_[order[winner]].name;
        head.value = entries_[order[winner]].value;
        head.removed = false;
        long *link = &head.next;
        for (std::size_t k = winner + 1; k < winner_end; ++k) {
            *link = static_cast<long>(order[k]);
            link = &entries_[order[k]].next;
        }
        *link = -1;
        g = e;
    }
    ac_free(order);
    return true;
}

long PmHeaders::find(const char *name, std::size_t len) const noexcept {
    for (std::size_t i = 0; i < count_; ++i) {
        const Entry &e = entries_[i];
        if (!e.removed && same_name(yyjson_mut_get_str(e.name), yyjson_mut_get_len(e.name), name, len))
            return static_cast<long>(i);
    }
    return -1;
}

long PmHeaders::find(const char *name) const noexcept { return find(name, std::strlen(name)); }

const char *PmHeaders::value(long index) const noexcept { return yyjson_mut_get_str(entries_[index].value); }

const char *PmHeaders::name(long index) const noexcept { return yyjson_mut_get_str(entries_[index].name); }

bool PmHeaders::set_value(long index, const char *value, std::size_t len) noexcept {
    yyjson_mut_val *v = yyjson_mut_strncpy(doc_, value, len);
    if (!v) return false;
    entries_[index].value = v;
    entries_[index].next = -1;
    return true;
}

void PmHeaders::remove(long index) noexcept { entries_[index].removed = true; }

bool PmHeaders::append(const char *name, std::size_t name_len, const char *value, std::size_t value_len) noexcept {
    long at = find(name, name_len);
    if (at >= 0) remove(at);
    return push(name, name_len, value, value_len);
}

bool PmHeaders::append(const char *name, const char *value) noexcept {
    return append(name, std::strlen(name), value, std::strlen(value));
}

yyjson_mut_val *PmHeaders::object() noexcept {
    yyjson_mut_val *obj = yyjson_mut_obj(doc_);
    if (!obj) return nullptr;
    for (std::size_t i = 0; i < count_; ++i) {
        if (entries_[i].removed) continue;
        for (long k = static_cast<long>(i); k >= 0; k = entries_[k].next) {
            // A key node belongs to one member: every further value gets a copy.
            yyjson_mut_val *key = k == static_cast<long>(i) ? entries_[i].name : yyjson_mut_val_mut_copy(doc_, entries_[i].name);
            if (!key || !yyjson_mut_obj_add(obj, key, entries_[k].value)) return nullptr;
        }
    }
    return obj;
}
