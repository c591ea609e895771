#pragma once

#include "support/ErrorOf.h"

// A scratch world for the state tests: the tool's folder (its install database,
// "data\bd_info.txt" and "config.ini") as the current directory, and a user profile and a
// public profile that USERPROFILE and PUBLIC point at while the test runs. Each Session is
// one run of the tool on that world, with a real catalog connection.

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>
#include <tuple>
#include <vector>

#include "catalog/CatalogDb.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/Context.h"
#include "core/IniFile.h"
#include "support/FakeForm.h"
#include "support/TempDir.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace state_test {

// The window stand-in; its file dialogs can move the current directory, as Windows' may.
struct DialogForm : FakeForm {
    QString moveTo;
    bool ExecuteOpenDialog(int dialog, const QString& filter) override {
        if (!moveTo.isEmpty()) QDir::setCurrent(moveTo);
        return FakeForm::ExecuteOpenDialog(dialog, filter);
    }
};

struct Session {
    explicit Session(const QString& exeDir) {
        st.exeDir = exeDir;
        st.BindSettings();
        form.listBox1 = {QStringLiteral("Автоматические выключатели"),
                         QStringLiteral("Предохранители"), QStringLiteral("Контакторы")};
        ctx.poupdate = [this] { ++poupdates; };
    }
    QString Setting() const {
        return IniFile(st.exeDir + QStringLiteral("config.ini"))
            .ReadString(QStringLiteral("BASE"), QStringLiteral("PATH"));
    }
    bool CatalogOpen() { return db.ADOConnection2().Connected(); }
    bool AllActive() {
        return db.ADOQuery1().Active() && db.ADOQuery2().Active() && db.ADOQuery3().Active();
    }

    AppState st;
    DialogForm form;
    catalog::CatalogDb db{st};
    Context ctx{st, form, db, nullptr, {}};
    int poupdates = 0;
};

class StateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        oldCwd_ = QDir::currentPath();
        for (const char* v : {"USERPROFILE", "PUBLIC"})
            saved_.push_back({v, qEnvironmentVariableIsSet(v), qgetenv(v)});
        exeDir = tmp.mkdir(QStringLiteral("tool")) + QLatin1Char('/');
        profile = tmp.mkdir(QStringLiteral("Пользователь 1"));  // Cyrillic and a space
        pub = tmp.mkdir(QStringLiteral("Public"));
        qputenv("USERPROFILE", profile.toLocal8Bit());
        qputenv("PUBLIC", pub.toLocal8Bit());
        MakeDb(exeDir + QStringLiteral("ZELK_install.mdb"), true);
        WriteTemplate(catalog::JetConnectionString(QStringLiteral("zelk_install.mdb")).toLatin1() +
                      "\r\nsecond line\r\n");
        ASSERT_TRUE(QDir::setCurrent(exeDir));
    }
    void TearDown() override {
        QDir::setCurrent(oldCwd_);
        for (const auto& [name, wasSet, value] : saved_) {
            if (wasSet)
                qputenv(name, value);
            else
                qunsetenv(name);
        }
    }

    static QString Native(QString p) { return p.replace(QLatin1Char('\\'), QLatin1Char('/')); }
    void WriteTemplate(const QByteArray& bytes) {
        tmp.write(QStringLiteral("tool/data/bd_info.txt"), bytes);
    }

    // A database file; every one has _FAMILY_DESCRIPTION, the install database also DS.
    static void MakeDb(const QString& path, bool install = false) {
        static int n = 0;
        const QString name = QStringLiteral("state_test_%1").arg(++n);
        QDir().mkpath(QFileInfo(Native(path)).absolutePath());
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(Native(path));
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral(
                "create table _FAMILY_DESCRIPTION ([DESC] varchar(100), [FAMILY] varchar(50))")));
            if (install) {
                ASSERT_TRUE(q.exec(QStringLiteral("create table DS ([ID] integer)")));
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    // Roaming folder of a version: profile\AppData\Roaming\Autodesk\AutoCAD Electrical <year>.
    QString Roaming(const QString& year) const {
        return profile + QStringLiteral("\\AppData\\Roaming\\Autodesk\\AutoCAD Electrical ") + year;
    }
    // A release folder with a language profile; returns its support folder (with backslash).
    QString MakeProfile(const QString& year, const QString& release, const QString& language) {
        const QString support = Roaming(year) + QLatin1Char('\\') + release + QLatin1Char('\\') +
                                language + QStringLiteral("\\Support\\");
        QDir().mkpath(Native(support + QStringLiteral("Profiles")));
        return support;
    }
    // The default catalog of a version and language under "Documents" or "My Documents".
    QString DefaultCatalog(const QString& docs, const QString& year, const QString& culture) {
        return profile + QLatin1Char('\\') + docs + QStringLiteral("\\Acade ") + year +
               QStringLiteral("\\AeData\\") + culture +
               QStringLiteral("\\Catalogs\\default_cat.mdb");
    }

    TempDir tmp;
    QString exeDir, profile, pub;

  private:
    QString oldCwd_;
    std::vector<std::tuple<const char*, bool, QByteArray>> saved_;
};

}  // namespace state_test
