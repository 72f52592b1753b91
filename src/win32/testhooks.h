#pragma once

// What the checks under Wine need to break a pass on purpose, set by environment variables and
// inert without them:
//   KORVALO_TEST_EXIT_AFTER=N   the process ends abruptly, as if the power went, after the Nth
//                               file of a plan (the journal then holds an unfinished pass);
//   KORVALO_TEST_FILE_DELAY=MS  each file of a plan takes at least MS milliseconds more, so that
//                               a pass lasts long enough to be closed while it runs.

namespace korvalo::session {
class FolderSession;
}

namespace win32::testhooks {

// Sets the session's stop check to the hooks the environment asks for, if any.
void install(korvalo::session::FolderSession &session);

} // namespace win32::testhooks
