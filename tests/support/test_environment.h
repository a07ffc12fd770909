#pragma once

namespace fc::test {

// Points the profile store at a folder of the process's own (removed at exit)
// and Qt at the offscreen platform unless one is named, so no test reads or
// writes the real user's settings or needs a display.
void IsolateTestEnvironment();

}  // namespace fc::test
