#pragma once

namespace zenqa::utils {

// For tests of runs killed at any moment: with TARMIG_TEST_STOP_AT=k in the
// environment the process kills itself (SIGKILL) at its k-th step, a step
// being each command sent, each answer read and each line of the password
// report on disk. Unset, it does nothing.
void stopSwitchStep();

}  // namespace zenqa::utils
