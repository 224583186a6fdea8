// Iteration data (-d): one set of variables for each iteration, from a JSON
// array of objects or a CSV file whose first row names the columns.
#pragma once

#include <string>
#include <utility>
#include <vector>

using DataRow = std::vector<std::pair<std::string, std::string>>;

// A usage error when the file cannot be read or is neither form.
std::vector<DataRow> load_iteration_data(const std::string &path);

// Sets a row's variables over the environment for one iteration and puts
// the earlier values back afterwards, so that no row leaks into the next.
class DataScope {
public:
    explicit DataScope(const DataRow *row);
    ~DataScope();
    DataScope(const DataScope &) = delete;
    DataScope &operator=(const DataScope &) = delete;

private:
    struct Saved {
        std::string name, value;
        bool was_set;
    };
    std::vector<Saved> saved_;
};
