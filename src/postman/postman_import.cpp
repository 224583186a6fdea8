#include "quorvane_apiclient.h"

// Placeholder until the Postman interchange lands.
extern "C" int api_import_postman(const char *) noexcept { return 0; }
extern "C" int api_export_postman(const char *) noexcept { return 0; }
