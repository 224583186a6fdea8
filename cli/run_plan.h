// What `quorvane run` sends: the collection loaded into the library with the
// variables in newman's order of precedence, and the requests picked by
// --folder, each ready to be sent.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "json_doc.h"

struct PlanOptions {
    std::string collection;
    std::string environment;
    std::string globals;
    std::vector<std::string> env_vars;
    std::vector<std::string> global_vars;
    std::vector<std::string> folders;
};

struct PlannedItem {
    int index = 0;   // in the library's collection
    std::string id;  // the same in every iteration, for reports that group by item
    std::string folder;
    std::string name;
    std::string method;
    std::string url;        // as saved, placeholders kept
    std::string item_json;  // the saved request, the base of every RequestConfig
    std::vector<std::pair<std::string, std::string>> headers;
};

struct RunPlan {
    std::string collection_name;
    JsonDoc collection;  // the file as read, for the JSON report
    std::vector<PlannedItem> items;
    int scripts_skipped = 0;
    std::string environment_json;  // -e and --env-var, before collection variables
    std::string globals_json;
};

// Initialises the library and loads everything; usage errors for unreadable
// files and unknown folders.
RunPlan load_plan(const PlanOptions &options);

// What every request of a run is sent with, whatever its item says.
struct TransferSettings {
    int timeout_s = 0;
    bool insecure = false;
    bool follow_redirects = true;
    std::string client_cert;  // PEM paths; "" for none
    std::string client_key;
    std::string extra_cas;    // trusted beside the system's authorities
};

// The RequestConfig of an item with the run's transfer settings.
std::string request_config(const PlannedItem &item, const TransferSettings &settings);

// Picks the requests that --folder names, in collection order: a folder
// (by name, or by its path "a/b") brings every request under it, a request
// name itself. Each name takes its first match in document order, as newman
// does. Throws a usage error for a name that matches nothing.
std::vector<std::size_t> select_items(const std::vector<PlannedItem> &items, const std::vector<std::string> &names);
