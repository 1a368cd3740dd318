// The parse skeleton shared by the five parsers: the args prefix and its
// heap-area warning, the unrecognized-option report, and the growth rule of
// operand arrays with the blocks it takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cmdsyn.h"
#include "cmdsyn_internal.h"
#include "cmdsyn_test_util.h"
#include "fake_veyracmdsyn.h"

namespace {

using cmdsyn_test::captured;
using cmdsyn_test::expect_operands;
using cmdsyn_test::ScopedArea;

const char kHeapWarning[] = "*** Only a non-heap AREA may be passed to CMD_INIT_ARGS_PREFIX.\n";

// A record of type R whose bytes are all zero except the args prefix.
template <class R>
bool only_prefix_set(const R &rec, int32_t code, stg_area_t area) {
    R want;
    std::memset(&want, 0, sizeof want);
    want.code = code;
    want.area = area;
    return std::memcmp(&rec, &want, sizeof want) == 0;
}

template <class R>
R junk_record() {
    R rec;
    std::memset(&rec, 0xa5, sizeof rec);
    return rec;
}

TEST(ArgsPrefix, AnEmptyStringClearsEveryByteButThePrefix) {
    ScopedArea area;
    auto deliver = junk_record<deliver_args>();
    EXPECT_EQ(cmdsyn_deliver("", area.get(), &deliver), 0);
    EXPECT_TRUE(only_prefix_set(deliver, 4, area.get()));
    auto rebase = junk_record<rebase_args>();
    EXPECT_EQ(cmdsyn_rebase("", area.get(), &rebase), 0);
    EXPECT_TRUE(only_prefix_set(rebase, 2, area.get()));
    auto update = junk_record<update_args>();
    EXPECT_EQ(cmdsyn_update("", area.get(), &update), 0);
    EXPECT_TRUE(only_prefix_set(update, 5, area.get()));
    auto vtree = junk_record<vtree_args>();
    EXPECT_EQ(cmdsyn_vtree("", area.get(), &vtree), 1001);
    EXPECT_TRUE(only_prefix_set(vtree, 1, area.get()));
    auto history = junk_record<history_args>();
    int32_t kind = -1;
    EXPECT_EQ(cmdsyn_history("", area.get(), &history, &kind), 0);
    EXPECT_TRUE(only_prefix_set(history, 5, area.get()));
    EXPECT_EQ(kind, 0);
}

TEST(ArgsPrefix, TheHeapAreaIsWarnedAboutOncePerParseAndStillParses) {
    fake_objsels::reset(0);
    deliver_args deliver;
    std::string out = captured([&] { EXPECT_EQ(cmdsyn_deliver("-str s1 -q", STG_HEAP_AREA, &deliver), 0); });
    EXPECT_EQ(out, kHeapWarning);
    EXPECT_EQ(deliver.area, STG_HEAP_AREA);
    EXPECT_STREQ(deliver.stream, "s1");
    EXPECT_EQ(deliver.query, 9);

    rebase_args rebase;
    out = captured([&] { EXPECT_EQ(cmdsyn_rebase("-view v", STG_HEAP_AREA, &rebase), 0); });
    EXPECT_EQ(out, kHeapWarning);
    EXPECT_STREQ(rebase.view, "v");

    update_args update;
    out = captured([&] { EXPECT_EQ(cmdsyn_update("a b", STG_HEAP_AREA, &update), 0); });
    EXPECT_EQ(out, kHeapWarning);
    expect_operands(update.argv, update.argc, {"a", "b"});

    vtree_args vtree;
    out = captured([&] { EXPECT_EQ(cmdsyn_vtree("-all d1", STG_HEAP_AREA, &vtree), 0); });
    EXPECT_EQ(out, kHeapWarning);
    EXPECT_EQ(vtree.all, 1);

    history_args history;
    int32_t kind = -1;
    out = captured([&] { EXPECT_EQ(cmdsyn_history("-vob v", STG_HEAP_AREA, &history, &kind), 0); });
    EXPECT_EQ(out, kHeapWarning);
    EXPECT_EQ(kind, 1);
    ASSERT_EQ(fake_objsels::calls().size(), 1u);
    EXPECT_EQ(fake_objsels::calls()[0].area, STG_HEAP_AREA);

    out = captured([&] { EXPECT_EQ(cmdsyn_vtree("-all", STG_HEAP_AREA, &vtree), 1001); });
    EXPECT_EQ(out, kHeapWarning) << "the warning comes before the parse fails";
}

TEST(ArgsPrefix, NullRecordsFail) {
    ScopedArea area;
    EXPECT_EQ(cmdsyn_deliver("", area.get(), nullptr), 1001);
    EXPECT_EQ(cmdsyn_rebase("", area.get(), nullptr), 1001);
    EXPECT_EQ(cmdsyn_update("", area.get(), nullptr), 1001);
    EXPECT_EQ(cmdsyn_vtree("d1", area.get(), nullptr), 1001);
}

// A table with one more option that no parser has a case for.
std::vector<clp_option_t> with_stray_option(const clp_option_t *table) {
    std::vector<clp_option_t> out;
    for (; table->spec; ++table) out.push_back(*table);
    out.push_back({"-bog[us]", 99, 0});
    out.push_back({nullptr, CLP_FLAG_END, 0});
    return out;
}

TEST(UnrecognizedOption, ParsersReportAFlagValueTheyHaveNoCaseFor) {
    const char report[] = "[message 100]\ninternal error: Unrecognized option \"-bogus\"\n";
    const cmdsyn::OperandAllocator alloc = cmdsyn::area_allocator();
    ScopedArea area;
    std::string out;

    const auto deliver_table = with_stray_option(cmdsyn::deliver_options);
    deliver_args deliver;
    out = captured([&] {
        EXPECT_EQ(cmdsyn::parse_deliver("-q -bog", area.get(), &deliver, {deliver_table.data(), alloc}), 1001);
    });
    EXPECT_EQ(out, report);
    EXPECT_EQ(deliver.query, 9) << "options before it were handled";

    const auto rebase_table = with_stray_option(cmdsyn::rebase_options);
    rebase_args rebase;
    out = captured([&] {
        EXPECT_EQ(cmdsyn::parse_rebase("-bogus -view v", area.get(), &rebase, {rebase_table.data(), alloc}), 1001);
    });
    EXPECT_EQ(out, report);
    EXPECT_EQ(rebase.view, nullptr) << "the parse stops at the stray option";

    const auto vtree_table = with_stray_option(cmdsyn::vtree_options);
    vtree_args vtree;
    out = captured([&] {
        EXPECT_EQ(cmdsyn::parse_vtree("-bogu d1", area.get(), &vtree, {vtree_table.data(), alloc}), 1001);
    });
    EXPECT_EQ(out, report);

    const auto history_table = with_stray_option(cmdsyn::history_options);
    history_args history;
    int32_t kind = -1;
    fake_objsels::reset(0);
    out = captured([&] {
        EXPECT_EQ(cmdsyn::parse_history("-lbt -bog L1", area.get(), &history, &kind, {history_table.data(), alloc}),
                  1001);
    });
    EXPECT_EQ(out, report);
    EXPECT_EQ(kind, 20) << "the kind reached so far";
    EXPECT_TRUE(fake_objsels::calls().empty());
}

TEST(UnrecognizedOption, TheOptionNameIsLeftOutWhenTheLibraryHasNone) {
    ScopedArea area;
    clp_hdl_t *hdl = clp_create_hdl_using_string("", cmdsyn::update_options, area.get());
    ASSERT_NE(hdl, nullptr);
    EXPECT_EQ(captured([&] { cmdsyn::report_unrecognized_option(hdl); }), "[message 100]\n");
}

// Records every block an operand array takes; fails the call numbered
// fail_at (1 for the first) by returning null.
struct BlockRecorder {
    std::vector<std::size_t> sizes;
    std::size_t fail_at = 0;

    static void *alloc(void *context, stg_area_t area, std::size_t size) {
        auto *self = static_cast<BlockRecorder *>(context);
        self->sizes.push_back(size);
        if (self->sizes.size() == self->fail_at) return nullptr;
        return stg_alloc(area, size);
    }
    cmdsyn::OperandAllocator allocator() { return {alloc, this}; }
};

TEST(GrowthRule, BlocksTakenAsOperandsArrive) {
    const std::size_t entry = sizeof(char *);
    struct Case {
        int operands;
        std::vector<std::size_t> blocks;
    };
    const Case cases[] = {
        {0, {}},
        {1, {128}},
        {2, {128, 256 * entry}},
        {256, {128, 256 * entry}},
        {257, {128, 256 * entry, 512 * entry}},
        {512, {128, 256 * entry, 512 * entry}},
        {513, {128, 256 * entry, 512 * entry, 768 * entry}},
        {600, {128, 256 * entry, 512 * entry, 768 * entry}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("operands: " + std::to_string(c.operands));
        std::vector<std::string> want;
        const std::string args = cmdsyn_test::numbered_words(c.operands, "p", &want);
        ScopedArea area;
        BlockRecorder recorder;
        update_args rec;
        ASSERT_EQ(cmdsyn::parse_update(args.c_str(), area.get(), &rec, {cmdsyn::update_options, recorder.allocator()}),
                  0);
        EXPECT_EQ(recorder.sizes, c.blocks);
        expect_operands(rec.argv, rec.argc, want);
    }
    if (sizeof(char *) == 4) {
        EXPECT_EQ(256 * entry, 1024u);
        EXPECT_EQ(768 * entry, 3072u);
    }
}

TEST(GrowthRule, TheVobStandingInForOperandsTakesTheFirstBlock) {
    ScopedArea area;
    BlockRecorder recorder;
    history_args rec;
    int32_t kind = -1;
    fake_objsels::reset(0);
    ASSERT_EQ(cmdsyn::parse_history("-vob v1", area.get(), &rec, &kind,
                                    {cmdsyn::history_options, recorder.allocator()}),
              0);
    EXPECT_EQ(recorder.sizes, std::vector<std::size_t>{128});
    expect_operands(rec.argv, rec.argc, {"v1"});
}

TEST(GrowthRule, NoMemoryFailsTheParse) {
    struct Case {
        const char *what;
        int operands;
        std::size_t fail_at;
        int32_t argc_after;
    };
    const Case cases[] = {
        {"first block", 1, 1, 0},
        {"first growth", 2, 2, 1},
        {"second growth", 300, 3, 256},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string args = cmdsyn_test::numbered_words(c.operands, "p", nullptr);
        ScopedArea area;
        BlockRecorder recorder;
        recorder.fail_at = c.fail_at;
        update_args update;
        EXPECT_EQ(cmdsyn::parse_update(args.c_str(), area.get(), &update, {cmdsyn::update_options, recorder.allocator()}),
                  1001);
        EXPECT_EQ(update.argc, c.argc_after) << "nothing is written past the collected operands";

        recorder = BlockRecorder{};
        recorder.fail_at = c.fail_at;
        vtree_args vtree;
        EXPECT_EQ(cmdsyn::parse_vtree(args.c_str(), area.get(), &vtree, {cmdsyn::vtree_options, recorder.allocator()}),
                  1001);

        recorder = BlockRecorder{};
        recorder.fail_at = c.fail_at;
        history_args history;
        int32_t kind = -1;
        fake_objsels::reset(0);
        const std::string typed = "-pool " + args;
        EXPECT_EQ(cmdsyn::parse_history(typed.c_str(), area.get(), &history, &kind,
                                        {cmdsyn::history_options, recorder.allocator()}),
                  1001);
        EXPECT_EQ(kind, 12);
        EXPECT_TRUE(fake_objsels::calls().empty()) << "no conversion after a failed collection";
    }

    ScopedArea area;
    BlockRecorder recorder;
    recorder.fail_at = 1;
    history_args history;
    int32_t kind = -1;
    fake_objsels::reset(0);
    EXPECT_EQ(cmdsyn::parse_history("-vob v", area.get(), &history, &kind,
                                    {cmdsyn::history_options, recorder.allocator()}),
              1001);
    EXPECT_EQ(kind, 1);
    EXPECT_TRUE(fake_objsels::calls().empty());
}

TEST(GrowthRule, AnUnknownAreaFailsEveryParser) {
    const stg_area_t unknown = 0x7ffffff0;
    deliver_args deliver;
    rebase_args rebase;
    update_args update;
    vtree_args vtree;
    history_args history;
    int32_t kind = -1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(cmdsyn_deliver("-q", unknown, &deliver), 1001);
    EXPECT_EQ(cmdsyn_rebase("-q", unknown, &rebase), 1001);
    EXPECT_EQ(cmdsyn_update("a", unknown, &update), 1001);
    EXPECT_EQ(cmdsyn_vtree("a", unknown, &vtree), 1001);
    EXPECT_EQ(cmdsyn_history("a", unknown, &history, &kind), 1001);
    testing::internal::GetCapturedStdout();
}

}  // namespace
