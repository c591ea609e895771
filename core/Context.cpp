#include "core/Context.h"

#include <exception>

#include "core/AppError.h"

void RunGuarded(IForm& form, const std::function<void()>& body) {
    try {
        body();
    } catch (const AppError& e) {
        form.ShowError(e.message());
    } catch (const std::exception& e) {
        form.ShowError(QString::fromLocal8Bit(e.what()));
    }
}
