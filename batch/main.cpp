// tavolene-batch: the conversion without a window, for unattended runs.

#include <iostream>

#include "batch/Arguments.h"
#include "batch/Runner.h"
#include "db/ClientEnvironment.h"

int main(int argc, char** argv) {
    db::prepareClientEnvironment();
    const batch::Parsed parsed = batch::parseArguments(argc, argv, std::cout, std::cerr);
    if (!parsed.arguments) return parsed.exitStatus;
    return batch::runFromCommandLine(*parsed.arguments, std::cout, std::cerr);
}
