#pragma once

namespace zenqa::utils {

// For tests of runs killed at any moment: with TARMIG_TEST_STOP_AT=k in the
// environment the process kills itself (SIGKILL) at its k-th step, a step
// being each command sent and each answer read. Unset, it does nothing.
void stopSwitchStep();

}  // namespace zenqa::utils
