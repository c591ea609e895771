// Version, language and catalog selection, and the project template reader.

#include "state/Selection.h"

#include <QStringEncoder>

#include "StateFixture.h"
#include "core/TextFile.h"
#include "state/ProjectTemplate.h"
#include "state/Releases.h"

namespace state_test {
namespace {

class SelectionTest : public StateTest {
  protected:
    // A session as discovery would leave it on this profile.
    std::unique_ptr<Session> Start() {
        auto s = std::make_unique<Session>(exeDir);
        s->st.userprofile = profile;
        s->st.publicprofile = pub;
        s->st.fstr = catalog::JetConnectionString(QStringLiteral("zelk_install.mdb"));
        return s;
    }
    void Guarded(Session& s, void (*handler)(Context&)) {
        RunGuarded(s.form, [&] { handler(s.ctx); });
    }
};

TEST_F(SelectionTest, VersionTypedByHand) {
    const QString d2016 = DefaultCatalog(QStringLiteral("Documents"), QStringLiteral("2016"),
                                         QStringLiteral("ru-RU"));
    MakeDb(d2016);
    auto s = Start();
    s->form.comboBox2 = QStringLiteral("rus");
    s->db.Reconnect(d2016);
    int closedWhenAsked = 0;
    s->form.onMessage = [&](const QString&) {
        closedWhenAsked += s->form.edit2.isEmpty() && !s->CatalogOpen();
    };
    for (const char* typed : {"2", "20", "201", "2016"}) {
        s->form.comboBox1 = QLatin1String(typed);
        Guarded(*s, state::ComboBox1Change);
        if (QLatin1String(typed) == QLatin1String("201")) {
            // A partial version is stored and tried like any other; its catalog is missing.
            const QString p =
                profile +
                QStringLiteral("\\Documents\\Acade 201\\AeData\\ru-RU\\Catalogs\\default_cat.mdb");
            EXPECT_EQ(s->form.edit2, p);
            EXPECT_EQ(s->Setting(), p);
            EXPECT_FALSE(s->CatalogOpen());
        }
    }
    EXPECT_EQ(s->form.messages, QStringList(4, QStringLiteral("Выберите путь к базе изделий")));
    EXPECT_EQ(closedWhenAsked, 4);
    EXPECT_EQ(s->form.errors.size(), 3);
    EXPECT_EQ(s->st.year, QStringLiteral("2016"));
    EXPECT_EQ(s->form.edit2, d2016);
    EXPECT_EQ(s->Setting(), d2016);
    EXPECT_TRUE(s->AllActive());
}

TEST_F(SelectionTest, LanguageChange) {
    const QString d = DefaultCatalog(QStringLiteral("Documents"), QStringLiteral("2016"),
                                     QStringLiteral("en-US"));
    MakeDb(d);
    auto s = Start();
    s->db.Reconnect(d);
    state::SetEdit2(s->ctx, d);
    // Without a version nothing is built; the open catalog stays open.
    s->form.comboBox1.clear();
    s->form.comboBox2 = QStringLiteral("enu");
    Guarded(*s, state::ComboBox2Change);
    EXPECT_EQ(s->st.language, QStringLiteral("enu"));
    EXPECT_TRUE(s->form.edit2.isEmpty());
    EXPECT_TRUE(s->Setting().isEmpty());
    EXPECT_TRUE(s->CatalogOpen());
    // A language without a default catalog: the same.
    s->form.comboBox1 = QStringLiteral("2016");
    s->form.comboBox2 = QStringLiteral("deu");
    Guarded(*s, state::ComboBox2Change);
    EXPECT_TRUE(s->Setting().isEmpty());
    EXPECT_TRUE(s->form.edit2.isEmpty());
    // Version and language: the default catalog, with no message.
    s->form.comboBox2 = QStringLiteral("enu");
    Guarded(*s, state::ComboBox2Change);
    EXPECT_EQ(s->form.edit2, d);
    EXPECT_EQ(s->Setting(), d);
    EXPECT_TRUE(s->AllActive());
    EXPECT_TRUE(s->form.messages.isEmpty());
    EXPECT_TRUE(s->form.errors.isEmpty());
}

TEST_F(SelectionTest, CatalogFieldAdjustsOnlyTheFields) {
    auto s = Start();
    s->st.year = s->form.comboBox1 = QStringLiteral("2016");
    s->st.language = s->form.comboBox2 = QStringLiteral("rus");
    state::SetEdit2(s->ctx, QStringLiteral("C:\\Acade 2017\\AeData\\en-US\\Catalogs\\x.mdb"));
    EXPECT_EQ(s->form.comboBox1, QStringLiteral("2017"));
    EXPECT_EQ(s->form.comboBox2, QStringLiteral("enu"));
    EXPECT_EQ(s->st.year, QStringLiteral("2016"));
    EXPECT_EQ(s->st.language, QStringLiteral("rus"));
    state::SetEdit2(s->ctx, QStringLiteral("2017 2016 en-US ru-RU"));
    EXPECT_EQ(s->form.comboBox1, QStringLiteral("2017"));
    EXPECT_EQ(s->form.comboBox2, QStringLiteral("enu"));
    s->form.comboBox1 = QStringLiteral("2016 SP1");
    state::SetEdit2(s->ctx, QStringLiteral("D:\\Acade 2016\\ru-RU\\a.mdb"));
    EXPECT_EQ(s->form.comboBox1, QStringLiteral("2016 SP1"));
    EXPECT_EQ(s->form.comboBox2, QStringLiteral("rus"));
    // The same text again runs nothing; an empty text changes nothing.
    s->form.comboBox1 = s->form.comboBox2 = QStringLiteral("x");
    state::SetEdit2(s->ctx, QStringLiteral("D:\\Acade 2016\\ru-RU\\a.mdb"));
    state::SetEdit2(s->ctx, QString());
    EXPECT_EQ(s->form.comboBox1 + s->form.comboBox2, QStringLiteral("xx"));
    EXPECT_TRUE(
        state::DefaultCatalog(profile, QStringLiteral("2016"), QStringLiteral("RUS")).isEmpty());
    // A later release by its last folder "Acade <year>", after the two rules above.
    const char* later[][3] = {{"2017", "C:\\u2016\\Acade 2025\\AeData\\ru-RU\\a.mdb", "2025"},
                              {"2025 SP1", "C:\\Acade 2025\\a.mdb", "2025 SP1"},
                              {"2021", "C:\\Acade 2025\\Acade 2017\\a.mdb", "2017"},
                              {"x", "C:\\Acade 2015\\Acade 20251\\a.mdb", "x"}};
    for (const auto& c : later) {
        s->form.comboBox1 = QLatin1String(c[0]);
        state::SetEdit2(s->ctx, QLatin1String(c[1]));
        EXPECT_EQ(s->form.comboBox1, QLatin1String(c[2])) << c[1];
    }
}

TEST_F(SelectionTest, CatalogChoice) {
    const QString chosen = tmp.file(QStringLiteral("выбор/Acade 2017/AeData/en-US/my cat.mdb"));
    MakeDb(chosen);
    tmp.write(QStringLiteral("tool/config.ini"), "[Update]\r\nlocal_date=01.02.2020\r\n");
    auto s = Start();
    s->form.comboBox1 = QStringLiteral("2016");
    s->form.comboBox2 = QStringLiteral("rus");
    const QString toolDir = QDir::currentPath();
    s->form.moveTo = tmp.mkdir(QStringLiteral("elsewhere"));
    s->form.dialogAnswers[2] = {chosen};
    Guarded(*s, state::Button8Click);
    EXPECT_TRUE(s->form.errors.isEmpty()) << s->form.errors.join(u'\n').toStdString();
    EXPECT_EQ(s->form.dialogFilters[2],
              QStringList{QStringLiteral("Файлы базы данных изделий|*.mdb|Microsoft Access")});
    EXPECT_EQ(s->st.path_mem, toolDir);
    EXPECT_EQ(QDir::currentPath(), toolDir);  // set back before the install database opened
    EXPECT_EQ(s->form.edit2, chosen);
    EXPECT_EQ(s->form.comboBox1 + s->form.comboBox2, QStringLiteral("2017enu"));
    EXPECT_EQ(s->Setting(), chosen);
    EXPECT_EQ(IniFile(exeDir + QStringLiteral("config.ini"))
                  .ReadString(QStringLiteral("Update"), QStringLiteral("local_date")),
              QStringLiteral("01.02.2020"));
    EXPECT_TRUE(s->AllActive());

    // Cancelled: nothing changes, not even the current directory the dialog left.
    s->form.dialogAnswers[2] = {std::nullopt};
    s->form.moveTo = tmp.mkdir(QStringLiteral("elsewhere2"));
    Guarded(*s, state::Button8Click);
    EXPECT_EQ(s->st.path_mem, toolDir);
    EXPECT_EQ(s->form.edit2, chosen);
    EXPECT_EQ(s->Setting(), chosen);
    EXPECT_TRUE(s->CatalogOpen());
    ASSERT_TRUE(QDir::setCurrent(toolDir));

    // A file the engine cannot open: the error ends the choice, which is stored all the same;
    // the current directory is back.
    const QString bad = tmp.write(QStringLiteral("bad.mdb"), "not a database");
    s->form.dialogAnswers[2] = {bad};
    Guarded(*s, state::Button8Click);
    EXPECT_EQ(s->form.errors.size(), 1);
    EXPECT_EQ(s->form.edit2, bad);
    EXPECT_EQ(s->Setting(), bad);
    EXPECT_FALSE(s->CatalogOpen());
    EXPECT_EQ(QDir::currentPath(), toolDir);
}

// ---- project template ----------------------------------------------------------------------

class TemplateTest : public SelectionTest {
  protected:
    void SetUp() override {
        SelectionTest::SetUp();
        kLibs = pub + QStringLiteral("\\Documents\\Autodesk\\Acade 2017\\Libs\\");
        kStandard = kLibs + QStringLiteral("iec2\\");
        s = Start();
        s->st.year = QStringLiteral("2017");
        s->st.path_library = kStandard;
        s->st.path_support = QStringLiteral("S\\");
    }
    QString Wdp(const QString& name, const QByteArray& bytes) {
        return tmp.write(QStringLiteral("projects/") + name, bytes);
    }
    void Choose(const std::optional<QString>& file) {
        s->form.dialogAnswers[1] = {file};
        Guarded(*s, state::Button7Click);
    }
    std::unique_ptr<Session> s;
    QString kLibs, kStandard;  // the 2017 library folders of the public profile
};

TEST_F(TemplateTest, ReadsLibraryAndMenu) {
    const QString toolDir = QDir::currentPath();
    s->form.moveTo = tmp.mkdir(QStringLiteral("elsewhere"));
    const QString a =
        Wdp(QStringLiteral("a.wdp"),
            "\xEF\xBB\xBF*[1]x\r\n+[1]%SL_DIR%lib_a/;%SL_DIR%more\n+[2]MENU_B.DAT\r\n");
    Choose(a);
    EXPECT_EQ(s->form.dialogFilters[1], QStringList{QStringLiteral("Файл проекта wdp|*.wdp")});
    EXPECT_EQ(s->st.path_wdp, a);
    EXPECT_EQ(s->form.edit1, a);
    EXPECT_EQ(s->st.path_library, kLibs + QStringLiteral("lib_a\\"));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\MENU_B.DAT"));
    EXPECT_EQ(QDir::currentPath(), toolDir);

    // UTF-16 and the ANSI code page; a marker in the middle of a line; an overlong line.
    QStringEncoder utf16(QStringConverter::Utf16LE);
    Choose(Wdp(QStringLiteral("b.wdp"),
               "\xFF\xFE" + QByteArray(utf16.encode(QStringLiteral("+[2]МЕНЮ.DAT\r\n")))));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\МЕНЮ.DAT"));
    Choose(Wdp(QStringLiteral("c.wdp"), StringToAnsi(QStringLiteral("+[2]Меню.dat"))));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\Меню.dat"));
    Choose(Wdp(QStringLiteral("d.wdp"), "ab+[2]cdef\r\n"));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\2]cdef"));
    Choose(Wdp(QStringLiteral("e.wdp"), "+[2]" + QByteArray(300, 'x')));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\") + QString(255, u'x'));
    EXPECT_TRUE(s->form.errors.isEmpty());
}

TEST_F(TemplateTest, EachChoiceNamesItsOwnLibrary) {
    // Read again after a cancelled dialog, a library whose name holds "iec2" is not applied
    // on top of itself; a second project's library replaces the first one's.
    const QString a = Wdp(QStringLiteral("a.wdp"), "+[1]%SL_DIR%IEC2_a/;\r\n+[2]A.DAT\r\n");
    Choose(a);
    EXPECT_EQ(s->st.path_library, kLibs + QStringLiteral("IEC2_a\\"));
    Wdp(QStringLiteral("a.wdp"), "+[1]%SL_DIR%IEC2_a/;\r\n+[2]A2.DAT\r\n");
    Choose(std::nullopt);
    EXPECT_EQ(s->st.path_library, kLibs + QStringLiteral("IEC2_a\\"));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\A2.DAT"));
    EXPECT_EQ(s->form.edit1, a);
    const QString b = Wdp(QStringLiteral("b.wdp"), "+[1]lib_b\r\n");
    Choose(b);
    EXPECT_EQ(s->st.path_library, kLibs + QStringLiteral("lib_b\\"));
    EXPECT_EQ(s->st.avocadmenu, QStringLiteral("S\\A2.DAT"));  // no "+[2]": unchanged
    // An empty library name would leave the Libs folder itself as the destination.
    Choose(Wdp(QStringLiteral("c.wdp"), "+[1]%SL_DIR%/;x\r\n+[1]\r\n"));
    EXPECT_EQ(s->st.path_library, kLibs + QStringLiteral("lib_b\\"));
}

TEST_F(TemplateTest, CancelledAndUnreadable) {
    const QString toolDir = QDir::currentPath();
    Choose(std::nullopt);  // never chosen: nothing read
    EXPECT_TRUE(s->form.edit1.isEmpty());
    EXPECT_EQ(s->st.path_library, kStandard);
    EXPECT_TRUE(s->st.avocadmenu.isEmpty());
    EXPECT_EQ(s->st.path_mem, toolDir);

    // Deleted after it was chosen: the error names it; the current directory is set back.
    const QString gone = tmp.file(QStringLiteral("projects/gone.wdp"));
    s->form.moveTo = tmp.mkdir(QStringLiteral("elsewhere"));
    Choose(gone);
    ASSERT_EQ(s->form.errors.size(), 1);
    EXPECT_TRUE(s->form.errors[0].startsWith(
        QStringLiteral("Cannot open file \"%1\". ").arg(QDir::toNativeSeparators(gone))))
        << s->form.errors[0].toStdString();
    EXPECT_EQ(s->form.edit1, gone);
    EXPECT_EQ(s->st.path_library, kStandard);
    EXPECT_EQ(QDir::currentPath(), toolDir);
}

}  // namespace
}  // namespace state_test
