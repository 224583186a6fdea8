/* A small host in plain C: sets, reads, lists and loads environment variables
 * and shows the error message of a bad call. */
#include <stdio.h>

#include "quorvane_apiclient.h"

int main(int argc, char **argv) {
    const char *env_file = argc > 1 ? argv[1] : "env_host_example.json";
    if (!api_init(NULL)) {
        fprintf(stderr, "init failed: %s\n", api_last_error());
        return 1;
    }

    api_env_set("host", "127.0.0.1:8080");
    api_env_set("token", "secret");
    printf("host     = %s\n", api_env_get("host"));
    printf("all      = %s\n", api_env_json());

    FILE *f = fopen(env_file, "wb");
    if (f) {
        fputs("{\"token\":\"rotated\",\"retries\":3,\"debug\":true,\"ids\":[1,2]}", f);
        fclose(f);
    }
    if (api_env_load(env_file)) {
        printf("loaded   = %s\n", api_env_json());
    } else {
        printf("load failed: %s\n", api_last_error());
    }
    remove(env_file);

    if (!api_env_set("", "value")) printf("bad call -> %s\n", api_last_error());
    if (!api_env_load("/nonexistent/env.json")) printf("bad call -> %s\n", api_last_error());

    api_cleanup();
    return 0;
}
