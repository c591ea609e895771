#pragma once

// The database engine of the Windows builds: ADO ("ADODB.Connection", "ADODB.Command") with
// the OLE DB provider "Microsoft.Jet.OLEDB.4.0" for Access files, "JRO.JetEngine" for
// compaction and "ADOX.Catalog" for creating empty database files. Every object is reached
// by late binding (IDispatch), so nothing depends on the ADO type library headers.
//
// - COM is initialised (apartment-threaded) once on each thread that uses connections: the
//   window thread in the tool. CompactDatabase may run on any thread: it initialises COM
//   around the call (CoInitializeEx/CoUninitialize) and makes its JRO object there.
// - A connection string is handed to ADO as given, with OLE DB resource pooling turned off
//   unless it names "OLE DB Services" itself; a Data Source naming no existing file is refused
//   before ADO sees it, so opening never creates a file.
// - Statements go as command text; each ":name" outside quotes and brackets becomes a "?"
//   bound, in order of appearance, to a wide-text parameter with the named value (null when
//   the value is not given).
// - Failures carry the descriptions of the connection's ADO Errors collection (in the
//   language of the user's Windows), else the COM error text with its HRESULT.
// - Where the Jet provider is not registered for this process (a 64-bit process, or Wine),
//   every operation fails with a message naming the provider.

#include "catalog/Engine.h"

namespace catalog {

class AdoEngine : public Engine {
  public:
    std::unique_ptr<DbConnection> NewConnection() override;
    void CompactDatabase(const QString& srcConnStr, const QString& destConnStr) override;
    // Through ADOX.Catalog: an empty Jet 4.0 database file.
    void CreateDatabase(const QString& file) override;

    // Why the Jet provider cannot serve this process, or the empty text when it can.
    static QString Unavailable();
};

}  // namespace catalog
