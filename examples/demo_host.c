/* A small host in plain C: sends two requests to the server whose base URL it
 * is given, one with a placeholder in its URL and one POST with a JSON body and
 * bearer authentication, and prints what the library captured of each. */
#include <stdio.h>

#include "quorvane_apiclient.h"

/* Returns 1 when the request went through with status 200. */
static int show(const char *title, const char *config, const char *query) {
    int ok = api_request(config);
    printf("== %s\n", title);
    if (!ok) {
        printf("failed  : %s\n\n", api_last_error());
        return 0;
    }
    printf("status  : %d\n", api_response_status());
    printf("headers : %s\n", api_response_headers_json());
    printf("timing  : %s\n", api_response_time_json());
    printf("body    : %s\n", api_response_body());
    printf("query   : %s -> %s\n\n", query, api_json_query(query));
    return api_response_status() == 200;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s BASE_URL (for example http://127.0.0.1:8080)\n", argv[0]);
        return 2;
    }
    if (!api_init(NULL)) {
        fprintf(stderr, "init failed: %s\n", api_last_error());
        return 1;
    }
    api_env_set("base", argv[1]);

    int ok = show("GET {{base}}/users/42", "{\"url\":\"{{base}}/users/42\"}", "$.name");
    ok &= show("POST {{base}}/echo",
               "{\"url\":\"{{base}}/echo\",\"method\":\"POST\",\"body_type\":\"json\","
               "\"body\":\"{\\\"name\\\":\\\"Ada\\\",\\\"languages\\\":[\\\"C\\\",\\\"C++\\\"]}\","
               "\"auth\":{\"type\":\"bearer\",\"token\":\"demo-token\"}}",
               "$.authorization");

    api_cleanup();
    return ok ? 0 : 1;
}
