#include <string>

#include <gtest/gtest.h>

#include "abi/export_list.h"

TEST(Abi, ExportListNamesOnlyDeclaredFunctions) {
    std::set<std::string> names = exported_names();
    EXPECT_GE(names.size(), 23u);
    std::string header = read_text(std::string(QV_SOURCE_DIR) + "/include/quorvane_apiclient.h");
    for (const std::string &name : names) {
        EXPECT_TRUE(name.starts_with("api_")) << name;
        EXPECT_TRUE(header.find(" " + name + "(") != std::string::npos ||
                    header.find("*" + name + "(") != std::string::npos) << name << " is not declared";
    }
}
