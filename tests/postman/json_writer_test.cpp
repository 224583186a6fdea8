#include <gtest/gtest.h>

#include <string>

#include "postman/json_writer.h"
#include "util/util.h"

namespace {

// Writes the same document with JsonWriter and with yyjson.
void write_both(bool pretty, std::string &ours, std::string &theirs) {
    std::string every_control;
    for (int c = 0; c < 0x20; ++c) every_control += static_cast<char>(c);
    const std::string tricky = every_control + "\"\\/\x7F \xE2\x80\xA8 \xC3\xA9 {{x}}";

    JsonWriter w(pretty);
    unique_mut_doc doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc *d = doc.get();
    yyjson_mut_val *root = yyjson_mut_obj(d);
    yyjson_mut_doc_set_root(d, root);
    w.begin_object();

    w.key(tricky.data(), tricky.size());
    w.string(tricky.data(), tricky.size());
    yyjson_mut_obj_add(root, yyjson_mut_strn(d, tricky.data(), tricky.size()), yyjson_mut_strn(d, tricky.data(), tricky.size()));

    w.key("empty object");
    w.begin_object();
    w.end_object();
    yyjson_mut_obj_add_val(d, root, "empty object", yyjson_mut_obj(d));

    w.key("empty array");
    w.begin_array();
    w.end_array();
    yyjson_mut_obj_add_val(d, root, "empty array", yyjson_mut_arr(d));

    w.key("nested");
    w.begin_array();
    yyjson_mut_val *arr = yyjson_mut_arr(d);
    yyjson_mut_obj_add_val(d, root, "nested", arr);
    w.null();
    yyjson_mut_arr_add_null(d, arr);
    w.string("");
    yyjson_mut_arr_add_str(d, arr, "");
    w.begin_object();
    w.key("k");
    w.begin_array();
    w.string("v");
    w.end_array();
    w.key("");
    w.null();
    w.end_object();
    yyjson_mut_val *obj = yyjson_mut_obj(d);
    yyjson_mut_val *inner = yyjson_mut_arr(d);
    yyjson_mut_arr_add_str(d, inner, "v");
    yyjson_mut_obj_add_val(d, obj, "k", inner);
    yyjson_mut_obj_add_null(d, obj, "");
    yyjson_mut_arr_append(arr, obj);
    w.begin_array();
    w.end_array();
    yyjson_mut_arr_append(arr, yyjson_mut_arr(d));
    w.end_array();
    w.end_object();

    ASSERT_TRUE(w.ok());
    ours = w.text();
    ASSERT_EQ(ours.size(), w.size());
    unique_cstr text(yyjson_mut_write(d, pretty ? YYJSON_WRITE_PRETTY : 0, nullptr));
    ASSERT_TRUE(text);
    theirs = text.get();
}

TEST(JsonWriter, MatchesYyjsonByteForByte) {
    for (bool pretty : {false, true}) {
        std::string ours, theirs;
        write_both(pretty, ours, theirs);
        EXPECT_EQ(ours, theirs) << (pretty ? "pretty" : "compact");
    }
}

TEST(JsonWriter, RefusesUnbalancedAndTooDeepNesting) {
    JsonWriter unbalanced(false);
    unbalanced.end_array();
    EXPECT_FALSE(unbalanced.ok());

    JsonWriter deep(false);
    for (int i = 0; i < 1000; ++i) deep.begin_array();
    EXPECT_FALSE(deep.ok());
}

TEST(JsonWriter, GrowsPastItsFirstBlock) {
    JsonWriter w(true);
    std::string value(1000, 'x');
    w.begin_array();
    for (int i = 0; i < 2000; ++i) w.string(value.data(), value.size());
    w.end_array();
    ASSERT_TRUE(w.ok());
    // "[", then per element a comma (but the first), a new line, 4 spaces, the quoted value; "\n]".
    EXPECT_EQ(w.size(), 1 + 2000 * (5 + value.size() + 2) + 1999 + 2);
}

}  // namespace
