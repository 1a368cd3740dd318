// LIBVEYRATBS: the product directory from its own file and the texts of
// the message table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "test_common.h"
#include "veyratbs.h"

namespace {

TEST(TbsProductDir, IsTheParentOfTheLibrarysFolder) {
    char buf[1024];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(tbs_product_dir(buf, 0), buf);
    EXPECT_EQ(std::string(buf), kestrin_test::product_dir());
    EXPECT_EQ(tbs_product_dir(nullptr, 0), nullptr);
}

bool ends_with_newline(const std::string &text) { return !text.empty() && text.back() == '\n'; }

TEST(TbsMessages, NinetyNineNamesTheOperandAndTheAvobsOption) {
    std::string text = _tbs_cmsg_tbs_msg_table_adr(99, "f1");
    EXPECT_NE(text.find("\"f1\""), std::string::npos) << text;
    EXPECT_NE(text.find("-avobs"), std::string::npos) << text;
    EXPECT_NE(text.find("no operand"), std::string::npos) << text;
    EXPECT_TRUE(ends_with_newline(text)) << text;
}

TEST(TbsMessages, NinetyNinePassesAPercentInTheOperandUnchanged) {
    for (const char *operand : {"100%", "%s%n%d", "a%%b", "%"}) {
        std::string text = _tbs_cmsg_tbs_msg_table_adr(99, operand);
        EXPECT_NE(text.find(std::string("\"") + operand + "\""), std::string::npos) << text;
    }
}

TEST(TbsMessages, NinetyNineCopesWithLongAndNullOperands) {
    std::string long_operand(5000, 'o');
    std::string text = _tbs_cmsg_tbs_msg_table_adr(99, long_operand.c_str());
    EXPECT_NE(text.find(long_operand), std::string::npos) << "nothing is cut off";
    EXPECT_TRUE(ends_with_newline(text));
    text = _tbs_cmsg_tbs_msg_table_adr(99, static_cast<const char *>(nullptr));
    EXPECT_NE(text.find("-avobs"), std::string::npos) << text;
}

TEST(TbsMessages, HundredReportsAnInternalErrorOfTheOptionParser) {
    std::string text = _tbs_cmsg_tbs_msg_table_adr(100);
    EXPECT_NE(text.find("nternal error"), std::string::npos) << text;
    EXPECT_NE(text.find("option"), std::string::npos) << text;
    EXPECT_TRUE(ends_with_newline(text)) << text;
}

TEST(TbsMessages, AnUnknownNumberIsReportedAsUnknown) {
    for (int msgno : {0, 98, 101, -7, 123456}) {
        std::string text = _tbs_cmsg_tbs_msg_table_adr(msgno);
        EXPECT_NE(text.find("nknown"), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(msgno)), std::string::npos) << text;
        EXPECT_TRUE(ends_with_newline(text)) << text;
    }
}

TEST(TbsMessages, EachThreadKeepsItsOwnText) {
    const char *mine = _tbs_cmsg_tbs_msg_table_adr(99, "mine");
    const std::string copy = mine;
    std::thread other([] { (void)_tbs_cmsg_tbs_msg_table_adr(99, "theirs, much longer than mine"); });
    other.join();
    EXPECT_EQ(std::string(mine), copy) << "another thread's call leaves this thread's text alone";
}

}  // namespace
