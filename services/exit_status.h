// The statuses the program ends with, as the manual page and --help list them.
#pragma once

namespace marklode {

enum class ExitStatus : int {
  Done = 0,
  Stopped = 1,        // a stop message (an error such as a missing input) ended the run
  Warned = 2,         // done, but a file failed, a record was skipped or a warning was shown
  Interrupted = 130,  // 128 + SIGINT: Ctrl-C, Ctrl-Break, a hang-up or a closed console
  Terminated = 143,   // 128 + SIGTERM: a request to terminate, a logoff or a shutdown
};

}  // namespace marklode
