// The parsers linked as the service program links them, against the real
// option parser, message table and object-selector conversion.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "cmdsyn.h"
#include "cmdsyn_internal.h"
#include "cmdsyn_test_util.h"
#include "veyratbs.h"

namespace {

using cmdsyn_test::captured;
using cmdsyn_test::expect_operands;
using cmdsyn_test::ScopedArea;

TEST(LinkedParsers, DeliverFillsItsRecord) {
    ScopedArea area;
    deliver_args rec;
    ASSERT_EQ(cmdsyn_deliver("-stream s1 -to t1 -target x1 -qall", area.get(), &rec), 0);
    EXPECT_STREQ(rec.stream, "s1");
    EXPECT_STREQ(rec.to, "t1");
    EXPECT_STREQ(rec.target, "x1");
    EXPECT_EQ(rec.query, 11);
}

TEST(LinkedParsers, AvobsWithAnOperandPrintsMessage99) {
    const std::string message = _tbs_cmsg_tbs_msg_table_adr(99, "f1");
    ASSERT_FALSE(message.empty());
    ScopedArea area;
    history_args rec;
    int32_t kind = -1;
    const std::string out = captured([&] { EXPECT_EQ(cmdsyn_history("-avobs f1", area.get(), &rec, &kind), 1001); });
    EXPECT_EQ(out, message);
}

TEST(LinkedParsers, UnrecognizedOptionReportUsesMessage100) {
    const std::string message = _tbs_cmsg_tbs_msg_table_adr(100);
    const clp_option_t table[] = {{"-q[uery]", 19, 0}, {"-zap", 30, 0}, {nullptr, CLP_FLAG_END, 0}};
    ScopedArea area;
    deliver_args rec;
    const std::string out = captured([&] {
        EXPECT_EQ(cmdsyn::parse_deliver("-q -zap", area.get(), &rec, {table, cmdsyn::area_allocator()}), 1001);
    });
    EXPECT_EQ(out, message + "internal error: Unrecognized option \"-zap\"\n");
}

TEST(LinkedParsers, HistoryConversions) {
    struct Case {
        const char *args;
        bool accepted;
        int32_t kind;
        std::vector<std::string> operands;
    };
    const Case cases[] = {
        {"f1 f2", true, 0, {"f1", "f2"}},
        {"-lbtype REL_1", true, 20, {"REL_1"}},
        {"-vob \\vob1", true, 1, {"\\vob1"}},
        {"-lbtype \"REL 1\"", false, -1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        ScopedArea area;
        history_args rec;
        int32_t kind = -1;
        int32_t result = -1;
        const std::string out = captured([&] { result = cmdsyn_history(c.args, area.get(), &rec, &kind); });
        if (c.accepted) {
            EXPECT_EQ(result, 0) << out;
            EXPECT_EQ(kind, c.kind);
            expect_operands(rec.argv, rec.argc, c.operands);
        } else {
            EXPECT_NE(result, 0);
            EXPECT_EQ(kind, -1) << "a failing conversion leaves the kind as it was";
            EXPECT_NE(out, "") << "the conversion names the bad operand";
        }
    }
}

// Parses of every syntax on several threads at once, each in its own area.
TEST(LinkedParsers, ConcurrentParses) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            const std::string mine = "x" + std::to_string(t);
            for (int i = 0; i < 200; ++i) {
                ScopedArea area;
                deliver_args deliver;
                rebase_args rebase;
                update_args update;
                vtree_args vtree;
                history_args history;
                int32_t kind = -1;
                const bool ok =
                    cmdsyn_deliver(("-str " + mine).c_str(), area.get(), &deliver) == 0 && mine == deliver.stream &&
                    cmdsyn_rebase(("-view " + mine + " -q").c_str(), area.get(), &rebase) == 0 &&
                    mine == rebase.view && cmdsyn_update(("a " + mine).c_str(), area.get(), &update) == 0 &&
                    update.argc == 2 && mine == update.argv[1] &&
                    cmdsyn_vtree(("-nco " + mine).c_str(), area.get(), &vtree) == 0 && mine == vtree.argv[0] &&
                    cmdsyn_history(("-lbtype L" + mine).c_str(), area.get(), &history, &kind) == 0 && kind == 20 &&
                    "L" + mine == history.argv[0];
                if (!ok) ++failures[t];
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
