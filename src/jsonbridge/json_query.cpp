#include "quorvane_apiclient.h"

// Placeholder until the JSON query lands.
extern "C" const char *api_json_query(const char *) noexcept { return ""; }
