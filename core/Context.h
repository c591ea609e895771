#pragma once

#include <functional>

#include "core/AppState.h"
#include "core/Form.h"

namespace catalog {
class CatalogDb;
}
namespace update {
class IdFtp;
}

// Everything a handler works with: the shared state, the window, the two database connections
// with their queries, and the update server client. The window owns the last three; tests
// build a Context of their own around fakes or real objects.
struct Context {
    AppState& st;
    IForm& form;
    catalog::CatalogDb& db;
    update::IdFtp* ftp = nullptr;
    // The update download (poupdate); installation discovery runs it when the connection
    // template cannot be read. Empty: nothing runs.
    std::function<void()> poupdate;
};

// Runs a handler body: an AppError (or any other exception) that escapes it is shown in the
// error box and the tool goes on.
void RunGuarded(IForm& form, const std::function<void()>& body);
