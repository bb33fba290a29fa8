#pragma once

#include <string>

#include "app/preflight.h"

namespace cvt {

// A finding of the check told in Chinese, for the window, whose operators
// read Chinese. Findings about written rows are told from their structured
// fields (table, column, rule, rows, examples); the others from the
// sentence the check wrote. A sentence of a shape not known here is given
// back unchanged, so that nothing the check found is ever left out.
std::string checkReasonZh(const CheckFinding& finding);

}  // namespace cvt
