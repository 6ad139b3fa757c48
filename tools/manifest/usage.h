#pragma once

namespace marvostell::tools {

// The --help text of a subcommand ("entry", "lint", ...), or of the program
// for any other name.
const char *UsageText(const char *command);

}  // namespace marvostell::tools
