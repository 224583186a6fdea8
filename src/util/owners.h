// Owners of every C resource the library holds: yyjson documents, libcurl
// handles and header lists, and malloc'd text. Declare them in the order
// their lifetimes nest: what libcurl points at must outlive the handle.
#pragma once

#include <memory>

#include <curl/curl.h>
#include <yyjson.h>

#include "util/alloc.h"

struct doc_deleter {
    void operator()(yyjson_doc *d) const noexcept { yyjson_doc_free(d); }
};
struct mut_doc_deleter {
    void operator()(yyjson_mut_doc *d) const noexcept { yyjson_mut_doc_free(d); }
};
struct free_deleter {
    void operator()(void *p) const noexcept { ac_free(p); }
};
struct easy_deleter {
    void operator()(CURL *h) const noexcept { curl_easy_cleanup(h); }
};
struct multi_deleter {
    void operator()(CURLM *m) const noexcept { curl_multi_cleanup(m); }
};
struct slist_deleter {
    void operator()(curl_slist *l) const noexcept { curl_slist_free_all(l); }
};

using unique_doc = std::unique_ptr<yyjson_doc, doc_deleter>;
using unique_mut_doc = std::unique_ptr<yyjson_mut_doc, mut_doc_deleter>;
using unique_cstr = std::unique_ptr<char, free_deleter>;  // malloc'd or yyjson-written text
using unique_easy = std::unique_ptr<CURL, easy_deleter>;
using unique_slist = std::unique_ptr<curl_slist, slist_deleter>;
using unique_multi = std::unique_ptr<CURLM, multi_deleter>;
