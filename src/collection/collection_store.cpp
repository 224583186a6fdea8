#include "collection/collection.h"
#include "quorvane_apiclient.h"

// Placeholder until the collection lands.
void ac_collection_init() noexcept {}
void ac_collection_cleanup() noexcept {}
extern "C" int api_collection_add(const char *, const char *) noexcept { return 0; }
extern "C" int api_collection_count(void) noexcept { return 0; }
extern "C" const char *api_collection_get_json(int) noexcept { return "{}"; }
extern "C" int api_collection_save(const char *) noexcept { return 0; }
extern "C" int api_collection_load(const char *) noexcept { return 0; }
