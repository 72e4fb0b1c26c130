// The batch's progress on a terminal: one line per finished mailbox with an estimate of the
// time left, from the mean time of the mailboxes done so far.
#pragma once

#include <cstddef>
#include <string>

namespace oa::nowindow {

// "[k/n] mailbox: outcome (s)", and while mailboxes are left ", about T left".
// `elapsed`: the seconds the batch's runs have taken so far, this one included.
std::string BatchProgressLine(size_t k, size_t n, const std::string& mailbox,
                              const std::string& outcome, double seconds, double elapsed);

// "0.4 s", "12 s", "3 min 5 s", "2 h 10 min".
std::string DurationText(double seconds);

}  // namespace oa::nowindow
