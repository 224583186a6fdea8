// Building into a mutable yyjson document with one sticky result: the first
// step that fails (memory ran out) makes every later one do nothing, so a
// builder checks ok() once, at its end, instead of chaining every call.
#pragma once

#include <cstddef>
#include <cstring>

#include <yyjson.h>

class JsonBuild {
public:
    explicit JsonBuild(yyjson_mut_doc *doc) noexcept : doc_(doc), ok_(doc != nullptr) {}

    yyjson_mut_doc *doc() const noexcept { return doc_; }
    bool ok() const noexcept { return ok_; }
    // Takes the result of a step made outside the builder; false from then on.
    bool check(bool step) noexcept { return ok_ = ok_ && step; }

    // New values, null once the builder has failed.
    yyjson_mut_val *obj() noexcept { return made(ok_ ? yyjson_mut_obj(doc_) : nullptr); }
    yyjson_mut_val *arr() noexcept { return made(ok_ ? yyjson_mut_arr(doc_) : nullptr); }
    yyjson_mut_val *text(const char *s, std::size_t len) noexcept {
        return made(ok_ ? yyjson_mut_strncpy(doc_, s, len) : nullptr);
    }
    yyjson_mut_val *text(const char *s) noexcept { return text(s, std::strlen(s)); }
    // A deep copy of a read value.
    yyjson_mut_val *copy(yyjson_val *v) noexcept { return made(ok_ ? yyjson_val_mut_copy(doc_, v) : nullptr); }
    // A copy of an object without its members named `skip`, in their order.
    yyjson_mut_val *copy_without(yyjson_val *obj, const char *skip) noexcept {
        yyjson_mut_val *out = this->obj();
        yyjson_obj_iter it = yyjson_obj_iter_with(obj);
        for (yyjson_val *k; ok_ && (k = yyjson_obj_iter_next(&it));) {
            if (std::strcmp(yyjson_get_str(k), skip) == 0) continue;
            yyjson_mut_val *key = text(yyjson_get_str(k), yyjson_get_len(k));
            yyjson_mut_val *value = copy(yyjson_obj_iter_get_val(k));
            check(out && key && value && yyjson_mut_obj_add(out, key, value));
        }
        return out;
    }

    // `key` is a constant of the program (not copied).
    void add(yyjson_mut_val *to, const char *key, yyjson_mut_val *value) noexcept {
        check(to && value && yyjson_mut_obj_add_val(doc_, to, key, value));
    }
    void add_text(yyjson_mut_val *to, const char *key, const char *s, std::size_t len) noexcept {
        add(to, key, text(s, len));
    }
    void add_text(yyjson_mut_val *to, const char *key, const char *s) noexcept { add(to, key, text(s)); }
    void add_true(yyjson_mut_val *to, const char *key) noexcept { add(to, key, ok_ ? yyjson_mut_true(doc_) : nullptr); }
    void append(yyjson_mut_val *list, yyjson_mut_val *value) noexcept {
        check(list && value && yyjson_mut_arr_append(list, value));
    }

private:
    yyjson_mut_val *made(yyjson_mut_val *v) noexcept {
        check(v != nullptr);
        return v;
    }

    yyjson_mut_doc *doc_;
    bool ok_;
};
