#pragma once

#include <string>

namespace db {

// A Database value with a host ("server:/path", "server/3051:/path",
// "inet://...") is the server's business; anything else is a file (or an
// alias) this process opens with the embedded engine.
bool isLocalPath(const std::string& database);

// The client library recurses without end on a path that loops through
// symbolic links and takes the process down with it. Throws db::Error with
// the system's reason when a local path cannot be resolved for such a
// reason; a missing or unreadable file is left for the engine to report in
// its own words.
void checkResolvable(const std::string& database);

// True when both name the same existing local file (same device and inode),
// whatever the text of the two paths.
bool sameLocalFile(const std::string& first, const std::string& second);

}  // namespace db
