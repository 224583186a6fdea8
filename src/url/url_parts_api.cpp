// api_url_parts_json: the splitter served to hosts, so that a host showing a
// URL's parts (and the program's JSON report) splits it as the exports do.
#include <cstring>

#include "apiclient/apiclient.h"
#include "quorvane_apiclient.h"
#include "url/url.h"
#include "util/alloc.h"
#include "util/util.h"

namespace {

ResultBuf s_parts_json;

}  // namespace

void ac_url_cleanup() noexcept { s_parts_json.release(); }

extern "C" const char *api_url_parts_json(const char *url) noexcept {
    if (!url) url = "";
    unique_mut_doc doc(yyjson_mut_doc_new(ac_alc()));
    yyjson_mut_val *root = doc ? yyjson_mut_obj(doc.get()) : nullptr;
    std::size_t len = 0;
    unique_cstr text;
    if (root) {
        yyjson_mut_doc_set_root(doc.get(), root);
        if (ac_url_split(doc.get(), root, url, std::strlen(url)))
            text.reset(yyjson_mut_write_opts(doc.get(), 0, ac_alc(), &len, nullptr));
    }
    const char *out = text ? s_parts_json.set(text.get(), len, "") : "";
    if (!*out) ac_set_error("api_url_parts_json: out of memory");
    return out;
}
