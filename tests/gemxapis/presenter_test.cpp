// What gemx_helper journals and answers for each request line, over a
// recording fake of its files.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "presenter.h"

namespace {

using gemx_helper::present;

class GemxapisHelperPresenterTest : public ::testing::Test {
protected:
    GemxapisHelperPresenterTest() {
        services_.path_exists = [this](const std::string &p) { return existing_.count(p) > 0; };
        services_.append_journal = [this](const std::string &line) {
            if (!journal_works_) return false;
            journal_.push_back(line);
            return true;
        };
    }

    std::set<std::string> existing_{"/work", "/work/a", "/work/b", "C:\\dir", "/tab\there"};
    std::vector<std::string> journal_;
    bool journal_works_ = true;
    gemx_helper::HelperServices services_;
};

TEST_F(GemxapisHelperPresenterTest, JournalsEachOperationAndAnswers) {
    struct {
        const char *request;
        int answer;
    } const cases[] = {
        {"deliver\t/work", 0},
        {"deliver\t/nowhere", 1},
        {"deliver\t", 1},
        {"rebase\tC:\\\\dir", 0},
        {"rebase\t/gone", 1},
        {"find_merge", 0},
        {"history\t/work/a", 0},
        {"history\t/tab\\there", 0},
        {"history\t/work/a\\n", 1},
        {"update\t1\t/work", 0},
        {"update\t3\t/work/a\t/work/b\t/work", 0},
        {"update\t2\t/work/a\t/missing", 1},
        {"update\t2\t/work/a\t", 1},
        {"vtree\t/work/b\t7", 0},
        {"vtree\t/work/b\t0", 0},
        {"vtree\t/work/b\t-1", 0},
        {"vtree\t/nope\t4", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.request);
        journal_.clear();
        EXPECT_EQ(present(c.request, services_), c.answer);
        ASSERT_EQ(journal_.size(), 1u);
        EXPECT_EQ(journal_[0], std::string(c.request) + "\n");
    }
}

TEST_F(GemxapisHelperPresenterTest, RefusesMalformedRequestsWithoutJournaling) {
    for (const char *bad : {"", "unknown\t/work", "find_merge\textra", "deliver", "deliver\t/work\t/work",
                            "history", "vtree\t/work", "vtree\t/work\tfive", "vtree\t/work\t", "update\t0",
                            "update\t1", "update\t2\t/work", "update\t1\t/work\t/work", "update\t01\t/work",
                            "update\tx\t/work", "history\tbad\\escape"}) {
        EXPECT_EQ(present(bad, services_), gemx_helper::kMalformed) << bad;
    }
    EXPECT_TRUE(journal_.empty());
}

TEST_F(GemxapisHelperPresenterTest, FailsWhenTheJournalCannotBeWritten) {
    journal_works_ = false;
    EXPECT_EQ(present("find_merge", services_), gemx_helper::kNotJournaled);
    EXPECT_EQ(present("history\t/work/a", services_), gemx_helper::kNotJournaled);
}

TEST_F(GemxapisHelperPresenterTest, JournalsAThousandPathsInOneLine) {
    std::string request = "update\t1000";
    for (int i = 0; i < 1000; ++i) request += (i % 2) ? "\t/work/a" : "\t/work/b";
    EXPECT_EQ(present(request, services_), 0);
    ASSERT_EQ(journal_.size(), 1u);
    EXPECT_EQ(journal_[0], request + "\n");
}

}  // namespace
