#pragma once

// What the checks under Wine need to hold a pass up on purpose, set by an environment variable
// and inert without it:
//   KORVALO_TEST_FILE_DELAY=MS  each file of a plan takes at least MS milliseconds more, so that
//                               a pass lasts long enough to be closed while it runs.
// (A pass cut off midway is the core's own hook, KORVALO_TEST_KILL_AFTER, in its Windows rename.)

namespace korvalo::session {
class WindowController;
}

namespace win32::testhooks {

// Sets the controller's per-file hook to what the environment asks for, if any.
void install(korvalo::session::WindowController &controller);

} // namespace win32::testhooks
