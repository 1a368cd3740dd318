// A temporary product tree for tests of discovery and launch: copies of
// the product's shared libraries and of bridge_probe, so that the probe,
// run from there, takes that tree for its installation (the product
// directory comes from where libveyraks lies). Copies, not links: a link
// would lead the libraries back to the real tree.
#pragma once

#include <string>
#include <vector>

#include "bridge_test_util.h"
#include "test_common.h"

namespace bridge_test {

class ProductTree {
public:
    // What stands at <tree>/bin/gemx_pkl_service.
    enum class Service {
        none,        // nothing: the service program is missing
        stand_in,    // a copy of bridge_probe, which acts as the service
        not_a_program,  // a text file of that name
    };

    explicit ProductTree(Service service);
    ProductTree(const ProductTree &) = delete;
    ProductTree &operator=(const ProductTree &) = delete;

    const std::string &root() const { return dir_.path(); }
    std::string bin() const;
    // <tree>/bin/bridge_probe and <tree>/bin/gemx_pkl_service.
    std::string probe() const;
    std::string service() const;
    // True when every copy was made.
    bool ready() const { return ready_; }

    // Runs the probe with args; with trace_dir not empty the probe traces
    // into it, otherwise it runs untraced.
    RunResult run_probe(const std::vector<std::string> &args, const std::string &trace_dir = "") const;

private:
    kestrin_test::TempDir dir_;
    bool ready_ = false;
};

// Copies file to target; false on failure.
bool copy_file(const std::string &file, const std::string &target);

}  // namespace bridge_test
