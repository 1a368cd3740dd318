// A scripted stand-in for the client end of the service pipe, linked
// instead of the platform's, so the pipe client's retry schedule can be
// driven through races that a real pipe produces only under load: an open
// that finds the free instance taken, over and over.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fake_pipe {

// What one wait() and the open() after it do.
enum class Step {
    no_pipe,   // the wait fails: no pipe (yet)
    busy,      // the wait succeeds, the open finds the instance taken
    refused,   // the wait succeeds, the open fails for good
    opens,     // the wait succeeds and the open too
};

// The script: steps[i] is the outcome of the i-th wait of the process's
// pipe clients; past its end, `rest` repeats. An open with no wait before
// it (the one after the retry loop) takes the next step.
struct Script {
    std::vector<Step> steps;
    Step rest = Step::no_pipe;
    std::string answer = "<response_start>0<response_end>";
};

// Replaces the script and clears the record.
void set_script(Script script);

// What the clients did: waits made, opens tried, bytes written.
struct Record {
    int waits = 0;
    int opens = 0;
    std::string written;
};
const Record &record();

}  // namespace fake_pipe
