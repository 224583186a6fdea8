// What the Postman import and export leave behind.
#pragma once

// Releases what the last full import or export left: its report and the
// collection variables it remembers (api_cleanup).
void ac_postman_cleanup() noexcept;
