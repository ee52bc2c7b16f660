// The tool's outer loop: start-up and one pass per camera.
#ifndef WORKFLOW_MAINLOOP_H
#define WORKFLOW_MAINLOOP_H

/// The release both tools show in their banners (the packages' version too).
constexpr int TOOL_VERSION[3] = {1, 2, 0};
/// The line above and below a banner, exactly as wide as the banner's text.
constexpr char BANNER_FRAME[] = "******************************************************\n";

/// Runs passes until the user quits; the process's exit status (0 only when
/// the user quits after a completed update, -1 otherwise).
int runMainLoop();

#endif
