// A request's headers as the runner sends them: one header a name.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "postman/postman_full.h"

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

// Byte order of the names as written: runs of one exact name sort together.
int exact_compare(yyjson_mut_val *a, yyjson_mut_val *b) noexcept {
    std::size_t n = yyjson_mut_get_len(a), m = yyjson_mut_get_len(b);
    int c = std::memcmp(yyjson_mut_get_str(a), yyjson_mut_get_str(b), n < m ? n : m);
    return c != 0 ? c : n == m ? 0 : n < m ? -1 : 1;
}

bool blank(char c) noexcept { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

PmHeaders::~PmHeaders() { std::free(entries_); }

bool PmHeaders::push(const char *name, std::size_t name_len, const char *value, std::size_t value_len) noexcept {
    if (count_ == cap_) {
        std::size_t want = cap_ ? cap_ * 2 : 16;
        auto *grown = static_cast<Entry *>(std::realloc(entries_, want * sizeof(Entry)));
        if (!grown) return false;
        entries_ = grown;
        cap_ = want;
    }
    yyjson_mut_val *n = yyjson_mut_strncpy(doc_, name, name_len);
    yyjson_mut_val *v = yyjson_mut_strncpy(doc_, value, value_len);
    if (!n || !v) return false;
    entries_[count_++] = Entry{n, v, false, 0};
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
        const char *value = ac_pm_scalar(yyjson_obj_get(entry, "value"), &len, scratch);
        if (!push(yyjson_get_str(key), yyjson_get_len(key), value ? value : "", value ? len : 0)) return false;
    }
    return collapse();
}

// Names equal but for case become one header, as the runner sends them: it
// groups values by exact name, then a later-named group replaces an earlier
// one (x-a after X-A wins, with all its values), at the first one's place.
// Values of one exact name all go out, in order, chained from that place.
// Sorting keeps it O(n log n) whatever the file holds.
bool PmHeaders::collapse() noexcept {
    if (count_ < 2) return true;
    auto *order = static_cast<std::size_t *>(std::malloc(count_ * sizeof(std::size_t)));
    if (!order) return false;
    for (std::size_t i = 0; i < count_; ++i) order[i] = i;
    std::sort(order, order + count_, [this](std::size_t a, std::size_t b) {
        int c = compare_names(entries_[a].name, entries_[b].name);
        if (c != 0) return c < 0;
        c = exact_compare(entries_[a].name, entries_[b].name);
        return c != 0 ? c < 0 : a < b;
    });
    for (std::size_t g = 0; g < count_;) {
        std::size_t e = g + 1;
        while (e < count_ && compare_names(entries_[order[g]].name, entries_[order[e]].name) == 0) ++e;
        // Exact-name runs inside [g, e): the winner is the run named last.
        std::size_t head = order[g], win = g, win_end = e;
        for (std::size_t r = g; r < e;) {
            std::size_t r_end = r + 1;
            while (r_end < e && exact_compare(entries_[order[r]].name, entries_[order[r_end]].name) == 0) ++r_end;
            head = std::min(head, order[r]);
            if (order[r] >= order[win]) {
                win = r;
                win_end = r_end;
            }
            r = r_end;
        }
        for (std::size_t k = g; k < e; ++k) entries_[order[k]].removed = true;
        Entry &first = entries_[head];
        first.name = entries_[order[win]].name;
        first.value = entries_[order[win]].value;
        first.removed = false;
        std::size_t *link = &first.next;
        for (std::size_t k = win + 1; k < win_end; ++k) {
            *link = order[k] + 1;
            link = &entries_[order[k]].next;
        }
        *link = 0;
        g = e;
    }
    std::free(order);
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
    entries_[index].next = 0;  // a header given a value has that one value
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
        for (std::size_t at = i + 1; at != 0; at = entries_[at - 1].next) {
            if (!yyjson_mut_obj_add(obj, entries_[at - 1].name, entries_[at - 1].value)) return nullptr;
        }
    }
    return obj;
}
