#include "cookie_jar.h"

#include <cstdio>
#include <ctime>

#include "cli_error.h"
#include "json_doc.h"
#include "quorvane_apiclient.h"

namespace {

// "2027-01-01T00:00:00.000Z" in Unix seconds; 0 (a session cookie) for
// anything else, "Infinity" included.
long long epoch_of(const char *iso) {
    std::tm tm{};
    int year = 0, month = 0;
    if (std::sscanf(iso, "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec) != 6)
        return 0;
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    return static_cast<long long>(timegm(&tm));
}

std::string iso_of(long long secs) {
    std::time_t t = static_cast<std::time_t>(secs);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &tm);
    return text;
}

}  // namespace

void load_cookie_jar(const std::string &path) {
    yyjson_read_err err{};
    JsonDoc doc(yyjson_read_file(path.c_str(), 0, nullptr, &err));
    yyjson_val *cookies = yyjson_obj_get(yyjson_doc_get_root(doc.get()), "cookies");
    if (!yyjson_is_arr(cookies)) usage_error("cannot read cookie jar '" + path + "': not a cookie jar file");
    JsonMutDoc out(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc *d = out.get();
    yyjson_mut_val *list = yyjson_mut_arr(d);
    yyjson_mut_doc_set_root(d, list);
    yyjson_val *c;
    yyjson_arr_iter it = yyjson_arr_iter_with(cookies);
    while ((c = yyjson_arr_iter_next(&it))) {
        yyjson_mut_val *m = yyjson_mut_arr_add_obj(d, list);
        yyjson_mut_obj_add_strcpy(d, m, "name", json_str(c, "key"));
        yyjson_mut_obj_add_strcpy(d, m, "value", json_str(c, "value"));
        yyjson_mut_obj_add_strcpy(d, m, "domain", json_str(c, "domain"));
        yyjson_mut_obj_add_strcpy(d, m, "path", json_str(c, "path", "/"));
        yyjson_mut_obj_add_bool(d, m, "secure", yyjson_is_true(yyjson_obj_get(c, "secure")));
        yyjson_mut_obj_add_bool(d, m, "http_only", yyjson_is_true(yyjson_obj_get(c, "httpOnly")));
        yyjson_mut_obj_add_bool(d, m, "host_only", !yyjson_is_false(yyjson_obj_get(c, "hostOnly")));
        yyjson_mut_obj_add_int(d, m, "expires", epoch_of(json_str(c, "expires")));
    }
    if (!api_cookies_add(json_write(d).c_str())) usage_error("cookie jar '" + path + "': " + api_last_error());
}

bool export_cookie_jar(const std::string &path, std::string &why) {
    JsonDoc jar = parse_json(api_cookies_json());
    JsonMutDoc out(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc *d = out.get();
    yyjson_mut_val *root = yyjson_mut_obj(d);
    yyjson_mut_doc_set_root(d, root);
    // The members newman's own export carries, as measured.
    yyjson_mut_obj_add_str(d, root, "version", "tough-cookie@4.1.3-postman.1");
    yyjson_mut_obj_add_str(d, root, "storeType", "MemoryCookieStore");
    yyjson_mut_obj_add_bool(d, root, "rejectPublicSuffixes", false);
    yyjson_mut_obj_add_bool(d, root, "enableLooseMode", true);
    yyjson_mut_obj_add_bool(d, root, "allowSpecialUseDomain", true);
    yyjson_mut_obj_add_str(d, root, "prefixSecurity", "silent");
    yyjson_mut_val *cookies = yyjson_mut_obj_add_arr(d, root, "cookies");
    yyjson_val *c;
    yyjson_arr_iter it = yyjson_arr_iter_with(yyjson_doc_get_root(jar.get()));
    while ((c = yyjson_arr_iter_next(&it))) {
        yyjson_mut_val *m = yyjson_mut_arr_add_obj(d, cookies);
        yyjson_mut_obj_add_strcpy(d, m, "key", json_str(c, "name"));
        yyjson_mut_obj_add_strcpy(d, m, "value", json_str(c, "value"));
        long long expires = json_int(c, "expires", 0);
        if (expires > 0) yyjson_mut_obj_add_strcpy(d, m, "expires", iso_of(expires).c_str());
        yyjson_mut_obj_add_strcpy(d, m, "domain", json_str(c, "domain"));
        yyjson_mut_obj_add_strcpy(d, m, "path", json_str(c, "path"));
        if (yyjson_is_true(yyjson_obj_get(c, "secure"))) yyjson_mut_obj_add_true(d, m, "secure");
        if (yyjson_is_true(yyjson_obj_get(c, "http_only"))) yyjson_mut_obj_add_true(d, m, "httpOnly");
        yyjson_mut_obj_add_bool(d, m, "hostOnly", yyjson_is_true(yyjson_obj_get(c, "host_only")));
    }
    std::FILE *f = std::fopen(path.c_str(), "w");
    bool ok = f && std::fputs(json_write(d, true).c_str(), f) >= 0;
    ok = f && std::fclose(f) == 0 && ok;
    if (!ok) why = "could not write '" + path + "'";
    return ok;
}
