#pragma once

// Version, language and catalog selection.

#include <QString>

struct Context;

namespace state {

// Sets the catalog field from code: runs Edit2Change when the new text differs from the
// current one, nothing otherwise.
void SetEdit2(Context& ctx, const QString& text);

void Edit2Change(Context& ctx);      // catalog field changed by code
void ComboBox1Change(Context& ctx);  // version field changed by the user
void ComboBox2Change(Context& ctx);  // language field changed by the user
void Button8Click(Context& ctx);     // catalog choice

}  // namespace state
