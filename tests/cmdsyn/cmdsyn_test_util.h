// Helpers of the parser tests: a storage area per test, captured standard
// output, and checks of record words.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "veyraks.h"

namespace cmdsyn_test {

// A fresh storage area, freed with everything in it at the end of the scope.
class ScopedArea {
public:
    ScopedArea() : area_(stg_create_area(4096)) {}
    ~ScopedArea() {
        if (area_ != 0) stg_free_area(area_, 1);
    }
    ScopedArea(const ScopedArea &) = delete;
    ScopedArea &operator=(const ScopedArea &) = delete;
    stg_area_t get() const { return area_; }

private:
    stg_area_t area_;
};

// Runs body with standard output captured and returns what it printed.
template <class Body>
std::string captured(Body &&body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
}

// want null: got must be null; otherwise got must hold the same text.
inline void expect_text(const char *got, const char *want, const char *word) {
    if (!want) {
        EXPECT_EQ(got, nullptr) << word;
    } else if (!got) {
        ADD_FAILURE() << word << " is null, expected \"" << want << "\"";
    } else {
        EXPECT_STREQ(got, want) << word;
    }
}

// Every reserved word of a record stays zero.
template <std::size_t N>
void expect_zero(const int32_t (&words)[N], const char *name) {
    for (std::size_t i = 0; i < N; ++i) EXPECT_EQ(words[i], 0) << name << "[" << i << "]";
}

inline void expect_zero(int32_t word, const char *name) { EXPECT_EQ(word, 0) << name; }

// The operand array holds exactly want, in order.
inline void expect_operands(char **argv, int32_t argc, const std::vector<std::string> &want) {
    ASSERT_EQ(argc, static_cast<int32_t>(want.size()));
    if (want.empty()) {
        EXPECT_EQ(argv, nullptr) << "no operands leave argv null";
        return;
    }
    ASSERT_NE(argv, nullptr);
    for (std::size_t i = 0; i < want.size(); ++i) {
        ASSERT_NE(argv[i], nullptr) << i;
        EXPECT_EQ(std::string(argv[i]), want[i]) << i;
    }
}

// The argument string "<prefix>0 <prefix>1 ... <prefix>(n-1)" and its words.
inline std::string numbered_words(int n, const std::string &prefix, std::vector<std::string> *words) {
    std::string args;
    for (int i = 0; i < n; ++i) {
        std::string word = prefix + std::to_string(i);
        args += (i ? " " : "") + word;
        if (words) words->push_back(word);
    }
    return args;
}

}  // namespace cmdsyn_test
