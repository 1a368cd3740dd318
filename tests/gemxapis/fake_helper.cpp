// A misbehaving stand-in for gemx_helper, copied into a temporary product
// tree as bin/gemx_helper. GEMXAPIS_FAKE_HELPER picks how it misbehaves:
//   exit     ends at once, without a word;
//   chatter  says "hello" instead of "ready", then waits for end of input;
//   silent   says nothing and waits for end of input;
//   deaf     says "ready", answers "0" to each line, and keeps running after
//            end of input until it is killed;
//   stall    says "ready" and never answers, until end of input;
//   vanish   says "ready" and ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

void say(const char *line) {
    std::fputs(line, stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

void drain_input() {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
}

}  // namespace

int main() {
    const char *mode = std::getenv("GEMXAPIS_FAKE_HELPER");
    std::string m = mode ? mode : "exit";
    if (m == "chatter") {
        say("hello");
        drain_input();
    } else if (m == "silent") {
        drain_input();
    } else if (m == "deaf") {
        say("ready");
        std::string line;
        while (std::getline(std::cin, line)) say("0");
        // Bounded, so that a test that fails to kill it leaves nothing
        // behind for long.
        std::this_thread::sleep_for(std::chrono::seconds(120));
    } else if (m == "stall") {
        say("ready");
        drain_input();
    } else if (m == "vanish") {
        say("ready");
    }
    return 3;
}
