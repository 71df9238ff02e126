// What every daemon of the platform does alike at start-up: answer
// --version and --help, and tell systemd when it is ready to serve.
#pragma once

namespace orla {

// The version of this build, as the package carries it.
const char* buildVersion();

// When the only argument is --version or --help: writes `program` and the
// version, or `usage` (the synopsis and its options, one or more lines), to
// the standard output stream and returns true; the caller then exits with
// status 0.
bool answerInfoOption(int argc, char** argv, const char* program, const char* usage);

// Tells systemd that the service is up (READY=1 on the datagram socket that
// NOTIFY_SOCKET names, sd_notify's protocol), for units of Type=notify.
// Does nothing when the process was not started by systemd. False when the
// message could not be sent; systemd then stops the unit after its start
// timeout, so the caller says why.
bool notifyReady();

}  // namespace orla
