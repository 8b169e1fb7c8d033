// Many files at once: worker processes (this program again, in its worker mode),
// each given the next file of one ordered list as soon as it has finished its last.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "app/convert_cli/file_result.h"
#include "app/convert_cli/worker_link.h"

namespace convert_cli {

struct PoolHooks {
  // A file has finished (converted or failed); index is its place in the orders.
  std::function<void(std::size_t index, FileResult result)> finished;
  // Polled every 100 ms; once true, every worker is told to stop (SIGTERM): the
  // files in flight are dropped, unwritten, and no other file is started.
  std::function<bool()> stopRequested;
  // The files in flight have changed.
  std::function<void(const std::vector<std::string>& inFlight)> inFlight;
};

// Converts orders with up to jobs workers started as program with arguments
// (argument 0 included). Returns when every order has a result or, after a stop,
// when every worker has ended; the indices of the orders without a result.
std::vector<std::size_t> RunJobPool(const std::string& program, const std::vector<std::string>& arguments, int jobs,
                                    const std::vector<WorkOrder>& orders, const PoolHooks& hooks);

// The processors this process may run on (at least 1).
int ProcessorsAvailable();

}  // namespace convert_cli
