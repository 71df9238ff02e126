// A table provider for the benchmarks: N rows made once, announced at the
// first read (a table's index packers are added after it subscribes), and
// current from then on, as a cached provider is between two fetches.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "mib/data.h"
#include "mib/table.h"

namespace bench {

struct Row : Data {
    int index = 0;
    std::string name;
};

class StaticRows : public TableProvider {
  public:
    explicit StaticRows(int count) {
        for (int i = 1; i <= count; ++i) {
            auto row = std::make_unique<Row>();
            row->index = i;
            row->name = "port-" + std::to_string(i);
            rows_.push_back(std::move(row));
        }
    }
    bool setData(Data*) override { return true; }
    void subscribe(TableProviderClient* client) override { client_ = client; }
    void updateTables() override {
        if (announced_) return;
        for (auto& row : rows_)
            client_->change(row.get());
        announced_ = true;
    }

  private:
    TableProviderClient* client_ = nullptr;
    bool announced_ = false;
    std::vector<std::unique_ptr<Row>> rows_;
};

}  // namespace bench
