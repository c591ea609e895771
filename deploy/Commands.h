#pragma once

struct Context;

namespace deploy {

void Button5Click(Context& ctx);  // Install
void Button6Click(Context& ctx);  // Clean

}  // namespace deploy
