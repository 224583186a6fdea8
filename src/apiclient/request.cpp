#include "apiclient/apiclient.h"
#include "quorvane_apiclient.h"

// Placeholder until requests land.
extern "C" int api_request(const char *) noexcept {
    ac_clear_error();
    clear_response_buffers();
    if (!g_initialized) ac_lazy_init();
    return 0;
}
