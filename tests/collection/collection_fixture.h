// Each test starts from an initialised library with an empty collection.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "quorvane_apiclient.h"
#include "support/library_fixture.h"
#include "support/temp_dir.h"

class CollectionTest : public LibraryTest {
protected:

    static std::string last_error() { return api_last_error(); }
    static std::string item(int index) { return api_collection_get_json(index); }
    static std::string all_items() {
        std::string all;
        for (int i = 0; i < api_collection_count(); ++i) all += item(i) + "\n";
        return all;
    }

    TempDir dir_;
};
