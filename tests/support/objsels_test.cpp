// cmdsyn_argv_to_objsels: the validity rule of every selector kind, the
// message for a bad operand, and calls it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "veyracmdsyn.h"
#include "veyraks.h"

namespace {

struct Case {
    int kind;
    const char *vob;                    // null: no "-vob"
    std::vector<const char *> operands;
    int expected;
    const char *message;                // the whole message, or null for none
};

std::ostream &operator<<(std::ostream &os, const Case &c) {
    os << "kind " << c.kind << " vob " << (c.vob ? c.vob : "(null)") << " operands";
    for (const char *op : c.operands) os << " [" << (op ? op : "(null)") << "]";
    return os;
}

// Runs the conversion on a copy of the operands and returns its result
// and what it printed; the array's entries must be left in place.
class Objsels : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override { area_ = stg_create_area(4096); }
    void TearDown() override { stg_free_area(area_, 1); }
    stg_area_t area_ = 0;
};

TEST_P(Objsels, FollowsTheRuleOfTheKind) {
    const Case &c = GetParam();
    std::vector<char *> argv;
    for (const char *op : c.operands) argv.push_back(const_cast<char *>(op));
    const std::vector<char *> before = argv;
    ::testing::internal::CaptureStdout();
    int rc = cmdsyn_argv_to_objsels(c.kind, c.vob, argv.data(), static_cast<int>(argv.size()), area_);
    std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, c.expected);
    EXPECT_EQ(printed, c.message ? c.message : "");
    EXPECT_EQ(argv, before) << "the entries still hold the operands' texts";
}

const int kBad = CMDSYN_OBJSELS_BAD_OPERAND;

INSTANTIATE_TEST_SUITE_P(
    Vob, Objsels,
    ::testing::Values(
        Case{1, "/vobs/x", {"/vobs/x"}, 0, nullptr},
        Case{1, "\\vobs\\x", {"\\vobs\\x"}, 0, nullptr},
        Case{1, "vob with blanks", {"vob with blanks"}, 0, nullptr},
        Case{1, nullptr, {"/vobs/x"}, 0, nullptr},
        Case{1, "", {""}, kBad, "Invalid VOB pathname: \"\"\n"},
        Case{1, "/vobs/\tx", {"/vobs/\tx"}, kBad, "Invalid VOB pathname: \"/vobs/\\x09x\"\n"},
        Case{1, nullptr, {"a\x1b[2Jb"}, kBad, "Invalid VOB pathname: \"a\\x1B[2Jb\"\n"},
        Case{1, nullptr, {"del\x7f"}, kBad, "Invalid VOB pathname: \"del\\x7F\"\n"}));

INSTANTIATE_TEST_SUITE_P(
    TypeNames, Objsels,
    ::testing::Values(
        Case{20, nullptr, {"L1"}, 0, nullptr},
        Case{20, nullptr, {"REL_1.2-beta"}, 0, nullptr},
        Case{20, nullptr, {"L1@/vobs/x"}, 0, nullptr},
        Case{20, nullptr, {"L1@\\vobs\\x", "L2"}, 0, nullptr},
        Case{20, "/vobs/x", {"L1"}, 0, nullptr},
        Case{20, nullptr, {"1st"}, 0, nullptr},
        Case{20, nullptr, {"x y"}, kBad, "Invalid label type name: \"x y\"\n"},
        Case{20, nullptr, {""}, kBad, "Invalid label type name: \"\"\n"},
        Case{20, nullptr, {"-L1"}, kBad, "Invalid label type name: \"-L1\"\n"},
        Case{20, nullptr, {".L1"}, kBad, "Invalid label type name: \".L1\"\n"},
        Case{20, nullptr, {"L1@"}, kBad, "Invalid label type name: \"L1@\"\n"},
        Case{20, nullptr, {"@/vobs/x"}, kBad, "Invalid label type name: \"@/vobs/x\"\n"},
        Case{20, nullptr, {"L1@/vobs/\nx"}, kBad, "Invalid label type name: \"L1@/vobs/\\x0Ax\"\n"},
        Case{20, nullptr, {"a/b"}, kBad, "Invalid label type name: \"a/b\"\n"},
        Case{20, nullptr, {"100%s"}, kBad, "Invalid label type name: \"100%s\"\n"},
        // The first bad operand is reported, and only it.
        Case{20, nullptr, {"L1", "bad one", "also bad"}, kBad, "Invalid label type name: \"bad one\"\n"},
        // A vob argument that is not a pathname fails every kind.
        Case{20, "", {"L1"}, kBad, "Invalid VOB pathname: \"\"\n"}));

// Every type kind takes the same rule and names its kind in the message.
INSTANTIATE_TEST_SUITE_P(
    EveryTypeKind, Objsels,
    ::testing::Values(
        Case{12, nullptr, {"pool_1"}, 0, nullptr},
        Case{12, nullptr, {"p q"}, kBad, "Invalid storage pool name: \"p q\"\n"},
        Case{13, nullptr, {"text_file"}, 0, nullptr},
        Case{13, nullptr, {"p q"}, kBad, "Invalid element type name: \"p q\"\n"},
        Case{14, nullptr, {"main"}, 0, nullptr},
        Case{14, nullptr, {"p q"}, kBad, "Invalid branch type name: \"p q\"\n"},
        Case{15, nullptr, {"Status@/vobs/x"}, 0, nullptr},
        Case{15, nullptr, {"p q"}, kBad, "Invalid attribute type name: \"p q\"\n"},
        Case{16, nullptr, {"Merge"}, 0, nullptr},
        Case{16, nullptr, {"p q"}, kBad, "Invalid hyperlink type name: \"p q\"\n"},
        Case{17, nullptr, {"trig1"}, 0, nullptr},
        Case{17, nullptr, {"p q"}, kBad, "Invalid trigger type name: \"p q\"\n"},
        Case{18, nullptr, {"rpt"}, 0, nullptr},
        Case{18, nullptr, {"p q"}, kBad, "Invalid report type name: \"p q\"\n"},
        Case{24, nullptr, {"site.a"}, 0, nullptr},
        Case{24, nullptr, {"p q"}, kBad, "Invalid VOB replica name: \"p q\"\n"},
        Case{27, nullptr, {"defect"}, 0, nullptr},
        Case{27, nullptr, {"p q"}, kBad, "Invalid activity type name: \"p q\"\n"},
        Case{29, nullptr, {"open"}, 0, nullptr},
        Case{29, nullptr, {"p q"}, kBad, "Invalid state type name: \"p q\"\n"}));

INSTANTIATE_TEST_SUITE_P(
    Hyperlinks, Objsels,
    ::testing::Values(
        Case{10, nullptr, {"Merge@42"}, 0, nullptr},
        Case{10, nullptr, {"Merge@42@/vobs/x"}, 0, nullptr},
        Case{10, nullptr, {"Merge"}, kBad, "Invalid hyperlink name: \"Merge\"\n"},
        Case{10, nullptr, {"Merge@"}, kBad, "Invalid hyperlink name: \"Merge@\"\n"},
        Case{10, nullptr, {"Merge@4x"}, kBad, "Invalid hyperlink name: \"Merge@4x\"\n"},
        Case{10, nullptr, {"Merge@42@"}, kBad, "Invalid hyperlink name: \"Merge@42@\"\n"},
        Case{10, nullptr, {"@42"}, kBad, "Invalid hyperlink name: \"@42\"\n"}));

const int kCall = CMDSYN_OBJSELS_BAD_CALL;

INSTANTIATE_TEST_SUITE_P(
    RefusedCalls, Objsels,
    ::testing::Values(
        Case{0, nullptr, {"f1"}, kCall,
             "Internal error: unknown object selector kind 0.\n"},
        Case{11, nullptr, {"f1"}, kCall,
             "Internal error: unknown object selector kind 11.\n"},
        Case{-1, nullptr, {"f1"}, kCall,
             "Internal error: unknown object selector kind -1.\n"},
        Case{20, nullptr, {}, kCall,
             "Internal error: no operands to convert into object selectors.\n"},
        Case{20, nullptr, {"L1", nullptr}, kCall,
             "Internal error: an operand to convert into an object selector is missing.\n"}));

TEST(ObjselsCall, NullArrayOrNegativeCountIsRefused) {
    stg_area_t area = stg_create_area(4096);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(cmdsyn_argv_to_objsels(20, nullptr, nullptr, 3, area), CMDSYN_OBJSELS_BAD_CALL);
    EXPECT_EQ(cmdsyn_argv_to_objsels(20, nullptr, nullptr, 0, area), CMDSYN_OBJSELS_BAD_CALL);
    char op[] = "L1";
    char *argv[] = {op};
    EXPECT_EQ(cmdsyn_argv_to_objsels(20, nullptr, argv, -2, area), CMDSYN_OBJSELS_BAD_CALL);
    (void)::testing::internal::GetCapturedStdout();
    EXPECT_EQ(cmdsyn_argv_to_objsels(20, nullptr, argv, 1, area), 0);
    stg_free_area(area, 1);
}

}  // namespace
