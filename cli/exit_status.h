// The exit statuses of efis-cli, documented in its --help and man page.
#pragma once

enum ExitStatus : int {
    kExitDone = 0,
    kExitFailed = 1,       // the unit refused or the exchange failed
    kExitUsage = 2,        // the command line is wrong; nothing was sent
    kExitNoUnit = 3,       // no unit answered on the links tried
    kExitFileRefused = 4,  // a file is unreadable, invalid or too large
    kExitCancelled = 5,    // interrupted (Ctrl-C); the link was left idle
};
