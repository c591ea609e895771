// Placeholders until the update module is written.
#include "state/Context.h"
#include "update/IdFtp.h"
#include "update/Update.h"

namespace update {
struct IdFtp::Impl {
    FtpSettings s;
};
IdFtp::IdFtp(FtpSettings settings) : d(std::make_unique<Impl>(Impl{std::move(settings)})) {}
IdFtp::~IdFtp() = default;
const FtpSettings& IdFtp::Settings() const { return d->s; }
bool IdFtp::Connected() { return false; }
void IdFtp::Connect() {}
void IdFtp::Get(const QString&, const QString&, bool, bool, const Progress&) {}
void IdFtp::Disconnect() {}
bool CheckInternetConnection(const QString&, int, int) { return false; }
void StartupUpdateCheck(Context&, const ProbeTarget&) {}
void poupdate(Context&) {}
void Button9Click(Context& ctx) { poupdate(ctx); }
}  // namespace update
