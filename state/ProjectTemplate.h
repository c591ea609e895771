#pragma once

struct Context;

namespace state {

// Project template choice: reads the "+[1]" and "+[2]" lines of the chosen *.wdp file.
void Button7Click(Context& ctx);

}  // namespace state
