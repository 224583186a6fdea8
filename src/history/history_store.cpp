#include "history/history.h"
#include "quorvane_apiclient.h"

// Placeholder until the history lands.
void ac_history_init() noexcept {}
void ac_history_cleanup() noexcept {}
extern "C" int api_history_add(const char *) noexcept { return 1; }
extern "C" int api_history_count(void) noexcept { return 0; }
extern "C" const char *api_history_list_json(int) noexcept { return "[]"; }
