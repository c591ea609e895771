// Placeholders until the selection, discovery and template modules are written.
#include "state/Context.h"
#include "state/Discovery.h"
#include "state/ProjectTemplate.h"
#include "state/Selection.h"

namespace state {
void SetEdit2(Context& ctx, const QString& text) { ctx.form.SetEdit2Text(text); }
void Edit2Change(Context&) {}
void ComboBox1Change(Context&) {}
void ComboBox2Change(Context&) {}
void Button8Click(Context&) {}
QString DefaultCatalogPath(const QString&, const QString&, const QString&) { return {}; }
void Discover(Context&) {}
void Button7Click(Context&) {}
}  // namespace state
