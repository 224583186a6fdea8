// Every test that uses the library's state starts from an initialised library
// without a storage directory and ends with api_cleanup, so that no test sees
// another's environment, history, collection or response.
#pragma once

#include <gtest/gtest.h>

#include "quorvane_apiclient.h"

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(api_init(nullptr), 1) << api_last_error(); }
    void TearDown() override { api_cleanup(); }
};
