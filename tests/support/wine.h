#pragma once

// True in a Windows build running under Wine. A test that meets a limit of Wine (not of Windows)
// skips itself only then, so that it still runs on Windows, and on Linux always.
bool runningUnderWine();
