#pragma once

namespace vaxo2::app {
// Parses the command line, runs the game and returns the process exit code.
int runMain(int argc, char** argv);
}  // namespace vaxo2::app
