#include "session/fleet.h"

namespace sorvane {

bool failed(const HostOutcome& outcome) {
  if (outcome.error || outcome.timed_out || outcome.not_run) return true;
  if (outcome.transfer) return outcome.transfer->failed > 0;
  return outcome.exit_code != 0;
}

}  // namespace sorvane
