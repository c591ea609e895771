#pragma once

struct Context;

namespace state {

// Installation discovery: the part of the window's creation handler that follows the
// settings binding and the start-up update check.
void Discover(Context& ctx);

}  // namespace state
