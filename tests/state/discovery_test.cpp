// Installation discovery on a scratch user profile with a real catalog connection.

#include "state/Discovery.h"

#include "StateFixture.h"
#include "core/TextFile.h"

namespace state_test {
namespace {

class DiscoveryTest : public StateTest {
  protected:
    // Points USERPROFILE at a new, empty profile folder.
    void UseProfile(const QString& name) {
        profile = tmp.mkdir(name);
        qputenv("USERPROFILE", profile.toLocal8Bit());
    }
    const QString kTemplate = catalog::JetConnectionString(QStringLiteral("zelk_install.mdb"));
};

TEST_F(DiscoveryTest, FindsLatestVersionReleaseAndLanguage) {
    MakeProfile(QStringLiteral("2016"), QStringLiteral("R20.0"), QStringLiteral("enu"));
    MakeProfile(QStringLiteral("2017"), QStringLiteral("R21.0"), QStringLiteral("enu"));
    MakeProfile(QStringLiteral("2017"), QStringLiteral("R22.0"), QStringLiteral("enu"));
    const QString support =
        MakeProfile(QStringLiteral("2017"), QStringLiteral("R22.0"), QStringLiteral("rus"));
    QDir().mkpath(Native(support + QStringLiteral("Images")));
    // Files never count as folders: neither as a version nor as a release.
    tmp.write(QStringLiteral("Пользователь 1/AppData/Roaming/Autodesk/AutoCAD Electrical 2018"),
              "x");
    tmp.write(QStringLiteral("Пользователь 1/AppData/Roaming/Autodesk/AutoCAD Electrical 2017/zz"),
              "x");

    Session s(exeDir);
    state::Discover(s.ctx);
    EXPECT_EQ(s.st.year, QStringLiteral("2017"));
    EXPECT_EQ(s.form.comboBox1, QStringLiteral("2017"));
    EXPECT_EQ(s.form.comboBox1Items, QStringList({"2017", "2016"}));  // the file "2018" is none
    EXPECT_EQ(s.st.ver, QStringLiteral("R22.0"));
    EXPECT_EQ(s.st.language, QStringLiteral("rus"));
    EXPECT_EQ(s.form.comboBox2, QStringLiteral("rus"));
    EXPECT_EQ(s.st.path_support, support);
    EXPECT_EQ(s.st.path_images, support + QStringLiteral("Images\\"));
    EXPECT_EQ(s.st.path_library,
              pub + QStringLiteral("\\Documents\\Autodesk\\Acade 2017\\Libs\\iec2\\"));
    EXPECT_TRUE(s.st.avocadmenu.isEmpty());
    EXPECT_EQ(s.st.fstr, kTemplate);  // the first line only
    EXPECT_TRUE(s.st.sort.has_value());
    EXPECT_EQ(s.st.tablelist, s.form.listBox1);
    EXPECT_TRUE(s.form.edit2.isEmpty());  // no default catalog, nothing stored
    EXPECT_TRUE(s.Setting().isEmpty());
    EXPECT_FALSE(s.CatalogOpen());
    EXPECT_EQ(s.poupdates, 0);
    EXPECT_TRUE(s.form.messages.isEmpty());
}

TEST_F(DiscoveryTest, FolderNameRules) {
    // The version is read at the 20th character whatever comes before "AutoCAD Electrical".
    UseProfile(QStringLiteral("p1"));
    QDir().mkpath(Native(Roaming(QStringLiteral("2016"))));
    QDir().mkpath(
        Native(profile + QStringLiteral("/AppData/Roaming/Autodesk/xAutoCAD Electrical 2017")));
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.st.year, QStringLiteral(" 201"));
        EXPECT_TRUE(s.st.path_library.isEmpty());
    }
    // "... 2017 old" is version 2017; a lower-case "images" folder is not the image folder,
    // "IMAGES" is.
    UseProfile(QStringLiteral("p2"));
    QString support =
        MakeProfile(QStringLiteral("2017 old"), QStringLiteral("R1"), QStringLiteral("rus"));
    QDir().mkpath(Native(support + QStringLiteral("images")));
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.st.year, QStringLiteral("2017"));
        EXPECT_TRUE(s.st.path_support.isEmpty());  // "AutoCAD Electrical 2017" does not exist
    }
    UseProfile(QStringLiteral("p3"));
    support = MakeProfile(QStringLiteral("2016"), QStringLiteral("R1"), QStringLiteral("enu"));
    QDir().mkpath(Native(support + QStringLiteral("images")));
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.st.language, QStringLiteral("enu"));
        EXPECT_EQ(s.st.path_support, support);
        EXPECT_TRUE(s.st.path_images.isEmpty());
    }
    // (in its place: on Windows "images" and "IMAGES" are one folder)
    QDir().rmdir(Native(support + QStringLiteral("images")));
    QDir().mkpath(Native(support + QStringLiteral("IMAGES")));
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.st.path_images, support + QStringLiteral("Images\\"));
    }
    // No profile at all: nothing found, nothing fails.
    UseProfile(QStringLiteral("empty"));
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_TRUE((s.st.year + s.st.ver + s.st.language + s.st.path_support + s.st.path_library)
                        .isEmpty());
        EXPECT_TRUE((s.form.comboBox1 + s.form.comboBox2 + s.form.edit2).isEmpty());
        EXPECT_TRUE(s.form.errors.isEmpty());
    }
}

TEST_F(DiscoveryTest, StoresAndReopensDefaultCatalog) {
    MakeProfile(QStringLiteral("2017"), QStringLiteral("R22.0"), QStringLiteral("rus"));
    const QString d = DefaultCatalog(QStringLiteral("Documents"), QStringLiteral("2017"),
                                     QStringLiteral("ru-RU"));
    const QString m = DefaultCatalog(QStringLiteral("My Documents"), QStringLiteral("2017"),
                                     QStringLiteral("ru-RU"));
    MakeDb(d);
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.Setting(), d);
        EXPECT_EQ(s.form.edit2, d);
        EXPECT_TRUE(s.CatalogOpen());
        EXPECT_TRUE(s.AllActive());
        EXPECT_EQ(s.form.listBox1, *s.st.tablelist);
    }
    MakeDb(m);  // "My Documents" wins when both exist
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.Setting(), m);
        EXPECT_EQ(s.form.edit2, m);
    }
    // A stored catalog of another version and language is reopened when no default catalog
    // exists: the fields follow the path, year and language stay as found.
    QFile::remove(Native(d));
    QFile::remove(Native(m));
    const QString other =
        tmp.file(QStringLiteral("old/Acade 2016/AeData/en-US/Catalogs/default_cat.mdb"));
    MakeDb(other);
    IniFile(exeDir + QStringLiteral("config.ini"))
        .WriteString(QStringLiteral("BASE"), QStringLiteral("PATH"), other);
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.form.edit2, other);
        EXPECT_EQ(s.form.comboBox1, QStringLiteral("2016"));
        EXPECT_EQ(s.form.comboBox2, QStringLiteral("enu"));
        EXPECT_EQ(s.st.year, QStringLiteral("2017"));
        EXPECT_EQ(s.st.language, QStringLiteral("rus"));
        EXPECT_TRUE(s.AllActive());
    }
    // A stored path whose file is gone is left alone.
    QFile::remove(other);
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_TRUE(s.form.edit2.isEmpty());
        EXPECT_FALSE(s.CatalogOpen());
        EXPECT_EQ(s.Setting(), other);
    }
}

TEST_F(DiscoveryTest, ConnectionTemplate) {
    const QString cat = tmp.file(QStringLiteral("cat/каталог 1.mdb"));
    MakeDb(cat);
    IniFile(exeDir + QStringLiteral("config.ini"))
        .WriteString(QStringLiteral("BASE"), QStringLiteral("PATH"), cat);
    // The placeholder in any letter case; a byte-order mark is not part of the template.
    WriteTemplate("\xEF\xBB\xBFProvider=Microsoft.Jet.OLEDB.4.0;Data Source=ZELK_Install.MDB;\r\n");
    {
        Session s(exeDir);
        state::Discover(s.ctx);
        EXPECT_EQ(s.st.fstr,
                  QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=ZELK_Install.MDB;"));
        EXPECT_TRUE(s.CatalogOpen());
        EXPECT_EQ(s.form.edit2, cat);
    }
    // Started from another folder: "data\bd_info.txt" is not found, the update download runs
    // and discovery goes on.
    MakeProfile(QStringLiteral("2016"), QStringLiteral("R1"), QStringLiteral("rus"));
    ASSERT_TRUE(QDir::setCurrent(tmp.mkdir(QStringLiteral("elsewhere"))));
    {
        Session s(exeDir);
        EXPECT_FALSE(ErrorOf([&] { state::Discover(s.ctx); }).isEmpty());  // empty template
        EXPECT_EQ(s.poupdates, 1);
        EXPECT_TRUE(s.st.fstr.isEmpty());
        EXPECT_EQ(s.st.year, QStringLiteral("2016"));
    }
    // No install database beside the executable: the template is not read at all, and the
    // stored catalog cannot be opened. The group lists still work.
    ASSERT_TRUE(QDir::setCurrent(exeDir));
    QFile::remove(exeDir + QStringLiteral("ZELK_install.mdb"));
    {
        Session s(exeDir);
        EXPECT_FALSE(ErrorOf([&] { state::Discover(s.ctx); }).isEmpty());
        EXPECT_EQ(s.poupdates, 0);
        EXPECT_TRUE(s.st.fstr.isEmpty());
        EXPECT_TRUE(s.form.edit2.isEmpty());
        EXPECT_TRUE(s.st.sort.has_value());
        EXPECT_EQ(s.st.tablelist, s.form.listBox1);
    }
}

}  // namespace
}  // namespace state_test
