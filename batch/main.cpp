// tavolene-batch: the conversion without a window, for unattended runs.

#include <csignal>
#include <iostream>

#include "batch/Arguments.h"
#include "batch/Runner.h"
#include "db/ClientEnvironment.h"

int main(int argc, char** argv) {
    // A closed pipe (| head) must not end a conversion: a write to it then
    // fails, the stream stops writing, and the run goes on to its end.
    std::signal(SIGPIPE, SIG_IGN);
    db::prepareClientEnvironment();
    const batch::Parsed parsed = batch::parseArguments(argc, argv, std::cout, std::cerr);
    if (!parsed.arguments) return parsed.exitStatus;
    return batch::runFromCommandLine(*parsed.arguments, std::cout, std::cerr);
}
