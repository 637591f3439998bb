// kelbow-profile: what characterises each cluster of one labelling of a table,
// in the table's own values, and how the clusters meet known classes.
#pragma once

namespace kelbow {

// Runs kelbow-profile with its command line; returns the process exit status.
int runProfile(int argc, char* argv[]);

}  // namespace kelbow
