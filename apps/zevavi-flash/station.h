// zevavi-flash --station: many boxes of one model upgraded at once from one PC, each with
// its own serial console, address, upgrade session and worker, all fed by one TFTP service
// on port 69 that tells the boxes apart by their address.
#pragma once

#include "apps/zevavi-flash/flashargs.h"

// Runs the upgrades of options.units to the end and reports them. Needs the QCoreApplication,
// the GUI hand-off and the log in place; `stop_requests` is the signal pipe's read end.
// Returns exit_finished when every box finished, exit_some_failed when one did not, or the
// code of a refusal that stopped the station before any box was touched.
int run_station(const FlashOptions &options, int stop_requests);
