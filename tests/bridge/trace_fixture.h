// A fixture for tests of code that traces through GEMXBRIDGE_Tracer: every
// test starts with the trace state unread and the trace directory set to a
// fresh folder, so its first trace scope opens a log of its own there.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge_test_util.h"
#include "gemxbridge_tracer.h"
#include "test_common.h"

namespace bridge_test {

inline constexpr char kTraceDirVariable[] = "KESTRIN_GEMXBRIDGE_TRACE_DIR";

class TracedTest : public ::testing::Test {
protected:
    void SetUp() override {
        GEMXBRIDGE_Tracer::reset_for_testing();
        trace_env_ = std::make_unique<ScopedEnv>(kTraceDirVariable, trace_dir_.path().c_str());
    }
    void TearDown() override {
        GEMXBRIDGE_Tracer::reset_for_testing();
        trace_env_.reset();
    }

    // Closes the log and returns every line traced so far.
    std::vector<std::string> traced() {
        GEMXBRIDGE_Tracer::close_file();
        return trace_lines(trace_dir_.path());
    }

    kestrin_test::TempDir trace_dir_{"trace"};
    std::unique_ptr<ScopedEnv> trace_env_;
};

// The three lines of a traced function that writes one message (or, with
// an empty message, none).
inline std::vector<std::string> scope_lines(const std::string &prefix, const std::string &message = "") {
    std::vector<std::string> lines{prefix + "Entering"};
    if (!message.empty()) lines.push_back(prefix + message);
    lines.push_back(prefix + "Exiting");
    return lines;
}

}  // namespace bridge_test
