// The icon menu edits on real files: where the entry goes, the block appended, the files
// edited, and Clean giving back exactly what the menu held before Install.

#include "deploy/Menu.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/FileSystem.h"
#include "deploy/DeployFixture.h"

namespace {

const QString kEntry = QStringLiteral("ЗЕЛК|IMAGES\\zelk.png|$S=M400");

// Install's menu edit as Install runs it: staged beside the menu files, put on the disk, then
// replacing them.
QList<deploy::MenuFileLines> InsertMakerMenu(AppState& st) {
    deploy::StagedMenu menu(st.avocadmenu, st.path_support, QString());
    menu.Files().Sync();
    menu.Replace();
    return menu.Lines();
}

// A tool folder holding "data\menu.txt" (the current directory during the test) and a support
// folder holding the menu files.
class MenuTest : public ::testing::Test {
  protected:
    TempDir tmp;
    CurrentDirGuard cwd;
    AppState st;

    void SetUp() override {
        tmp.mkdir(QStringLiteral("tool/data"));
        tmp.mkdir(QStringLiteral("Support"));
        ASSERT_TRUE(QDir::setCurrent(tmp.file(QStringLiteral("tool"))));
        st.path_support = tmp.path() + QStringLiteral("Support\\");
        ResetMenu();
    }
    void ResetMenu() { st.avocadmenu = st.path_support + QStringLiteral("ACE_IEC_MENU.DAT"); }
    QString First() const { return st.path_support + QStringLiteral("ACE_IEC_MENU.DAT"); }
    QString FollowUp() const { return st.path_support + QStringLiteral("ACE_IEC-60617_MENU.DAT"); }
    void WriteMakerMenu(const QByteArray& bytes) const {
        tmp.write(QStringLiteral("tool/data/menu.txt"), bytes);
    }
    void Write(const QString& name, const QByteArray& bytes) const {
        tmp.write(QStringLiteral("Support/") + name, bytes);
    }
    QByteArray Read(const QString& name) const {
        return tmp.read(QStringLiteral("Support/") + name);
    }
    QStringList Lines(const QString& name) const { return DecodeText(Read(name)).lines; }
};

TEST_F(MenuTest, EntriesFollowTheFixedBoundAndTheBlockIsAppended) {
    const QStringList block = MakerBlock(12);
    WriteMakerMenu(Bytes(CrLf(block), TextEncoding::Utf8));
    const QStringList menu{"**M0", "Главное меню", "$S=M1 \"**M0\"", "a3",  "**M0x", "**M0", "a6",
                           "a7",   "a8",           "**M0",           "**M0"};
    Write("ACE_NFPA_MENU.DAT", Bytes(CrLf(menu), TextEncoding::Ansi));
    Write("short.DAT", Bytes("**M0\r\nx\r\n", TextEncoding::Ansi));
    st.avocadmenu = st.path_support + "ACE_NFPA_MENU.DAT";

    InsertMakerMenu(st);
    // Heads at 4 and 5 get entries 3 and 4 lines below them; the quoted head none; the
    // entries use up visits, so the head at 9 is never looked at, nor those of the last lines.
    const QStringList expected =
        QStringList{"**M0", "Главное меню", "$S=M1 \"**M0\"", kEntry, "a3", "**M0x", "**M0",
                    "a6",   kEntry,         kEntry,           "a7",   "a8", "**M0",  "**M0"} +
        block;
    EXPECT_EQ(Lines("ACE_NFPA_MENU.DAT"), expected);
    EXPECT_EQ(st.avocadmenu, st.path_support + "ACE_NFPA_MENU.DAT");  // no follow-up file

    st.avocadmenu = st.path_support + "short.DAT";
    InsertMakerMenu(st);
    EXPECT_EQ(Lines("short.DAT"), QStringList({"**M0", "x"}) + block);
}

// One menu file per encoding (with and without byte-order mark), with mixed line ends and no
// final terminator, through Install, a second Install and Clean.
TEST_F(MenuTest, CleanGivesBackTheMenuAfterOneOrTwoInstalls) {
    struct Case {
        TextEncoding enc;
        bool bom;
        int blockLines;
        const char* eol;
    };
    const Case cases[] = {{TextEncoding::Ansi, false, 298, "\r\n"},
                          {TextEncoding::Utf8, true, 298, "\n"},
                          {TextEncoding::Utf16LE, true, 37, "\r"},
                          {TextEncoding::Utf16BE, true, 298, "\r\n"},
                          {TextEncoding::Utf8, false, 37, "\n"}};  // read as ANSI
    const QStringList menu{"**M0",     "Меню IEC",  "ICONS",  "Выключатели|IMAGES\\sw.png|$S=M1",
                           "\"**M0\"", "**M1",      "Меню 1", "",
                           "x",        "**M0 next", "y",      "z",
                           "**M0",     "хвост"};
    const QStringList followMenu{"**M0", "IEC 60617", "a", "b", "c", "**M0"};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.enc) << " bom " << c.bom << " " << c.blockLines);
        // The maker's block carries a character the ANSI code page lacks.
        QStringList block = MakerBlock(c.blockLines);
        block[3] = QStringLiteral("Проверка ✓|IMAGES\\zelk_ok.png|$S=M499");
        WriteMakerMenu(Bytes(CrLf(block), TextEncoding::Utf8));
        const QString text = menu.join(QLatin1String(c.eol));  // no final terminator
        Write("ACE_IEC_MENU.DAT", Bytes(text, c.enc, c.bom));
        Write("ACE_IEC-60617_MENU.DAT", Bytes(followMenu.join("\n") + "\n", c.enc, c.bom));
        ResetMenu();

        InsertMakerMenu(st);
        EXPECT_EQ(st.avocadmenu, FollowUp());
        const QByteArray once = Read("ACE_IEC_MENU.DAT");
        const QByteArray onceFollow = Read("ACE_IEC-60617_MENU.DAT");
        const TextLines installed = DecodeText(once);
        const bool ansi = c.enc == TextEncoding::Ansi || !c.bom;
        EXPECT_EQ(installed.encoding, ansi ? TextEncoding::Ansi : c.enc);
        ASSERT_EQ(installed.lines.size(), menu.size() + 2 + block.size());
        EXPECT_EQ(installed.lines.count(kEntry), 2);
        EXPECT_EQ(installed.lines[3], kEntry);
        QStringList storedBlock = block;  // the block as the menu file's encoding holds it
        if (ansi) storedBlock[3] = QStringLiteral("Проверка ?|IMAGES\\zelk_ok.png|$S=M499");
        EXPECT_EQ(installed.lines.mid(menu.size() + 2), storedBlock);
        EXPECT_TRUE(once.endsWith(Bytes("\r\n", c.enc, false)));
        EXPECT_EQ(DecodeText(onceFollow).lines,
                  QStringList({"**M0", "IEC 60617", "a", kEntry, "b", "c", "**M0"}) + storedBlock);

        ResetMenu();
        InsertMakerMenu(st);  // again: the earlier lines are replaced, not doubled
        EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), once);
        EXPECT_EQ(Read("ACE_IEC-60617_MENU.DAT"), onceFollow);

        ResetMenu();
        deploy::RemoveMakerMenu(st);
        EXPECT_EQ(st.avocadmenu, FollowUp());
        EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), Bytes(CrLf(menu), c.enc, c.bom));
        EXPECT_EQ(Read("ACE_IEC-60617_MENU.DAT"), Bytes(CrLf(followMenu), c.enc, c.bom));

        ResetMenu();
        deploy::RemoveMakerMenu(st);  // nothing of the maker's left: the same lines again
        EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), Bytes(CrLf(menu), c.enc, c.bom));
    }
}

TEST_F(MenuTest, OnlyTheExactFirstMenuPathBringsInTheFollowUpFile) {
    const QStringList block = MakerBlock(40);
    WriteMakerMenu(Bytes(CrLf(block), TextEncoding::Ansi));
    const QStringList menu{"**M0", "a", "b", "c"};
    for (const char* name :
         {"ACE_IEC_MENU.DAT", "ace_iec_menu.dat", "ACE_NFPA_MENU.DAT", "ACE_IEC-60617_MENU.DAT"})
        Write(name, Bytes(CrLf(menu), TextEncoding::Ansi));

    for (const char* name : {"ace_iec_menu.dat", "ACE_NFPA_MENU.DAT", "ACE_IEC-60617_MENU.DAT"}) {
        SCOPED_TRACE(name);
        st.avocadmenu = st.path_support + name;
        InsertMakerMenu(st);
        EXPECT_EQ(st.avocadmenu, st.path_support + name);
        EXPECT_EQ(Lines(name), QStringList({"**M0", "a", "b", kEntry, "c"}) + block);
        deploy::RemoveMakerMenu(st);
        EXPECT_EQ(st.avocadmenu, st.path_support + name);
        EXPECT_EQ(Lines(name), menu);
    }
    EXPECT_EQ(Lines("ACE_IEC_MENU.DAT"), menu);  // never touched
}

TEST_F(MenuTest, UsersOwnLinesStayThroughInstallAndClean) {
    const QStringList block = MakerBlock(30);
    WriteMakerMenu(Bytes(CrLf(block), TextEncoding::Ansi));
    // A menu of the user's own numbered M4001, a copy of the entry with more text, the entry
    // as a code page without Cyrillic letters stores it, and the block's head as part of a
    // longer line.
    const QStringList menu{"**M0",
                           "Меню",
                           "**M4001",
                           "Мой ЗЕЛК|IMAGES\\zelk.png|$S=M400 копия",
                           "????|IMAGES\\zelk.png|$S=M400",
                           "$S=M400",
                           "**M4001",
                           "Мой пункт|IMAGES\\zelk_my.png|$S=M4001"};
    Write("ACE_IEC_MENU.DAT", Bytes(CrLf(menu), TextEncoding::Ansi));
    Write("ACE_IEC-60617_MENU.DAT", Bytes(CrLf(menu), TextEncoding::Utf16LE));

    InsertMakerMenu(st);
    EXPECT_EQ(Lines("ACE_IEC_MENU.DAT").mid(0, 4),
              QStringList({"**M0", "Меню", "**M4001", kEntry}));
    ResetMenu();
    deploy::RemoveMakerMenu(st);
    EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), Bytes(CrLf(menu), TextEncoding::Ansi));
    EXPECT_EQ(Read("ACE_IEC-60617_MENU.DAT"), Bytes(CrLf(menu), TextEncoding::Utf16LE));
}

// Whatever cannot be read or told apart stops the edit before any menu file is written.
// AutoCAD Electrical saves a menu file while Install runs, between the staging of the new menu
// files and their replacing: the save is kept and the maker's lines go into it.
TEST_F(MenuTest, AMenuFileSavedWhileInstallRunsKeepsTheSave) {
    const QStringList block = MakerBlock(12);
    WriteMakerMenu(Bytes(CrLf(block), TextEncoding::Ansi));
    Write("ACE_IEC_MENU.DAT", Bytes(CrLf({"**M0", "a", "b", "c"}), TextEncoding::Ansi));
    Write("ACE_IEC-60617_MENU.DAT", Bytes(CrLf({"x"}), TextEncoding::Utf16LE));

    deploy::StagedMenu menu(st.avocadmenu, st.path_support, QString());
    menu.Files().Sync();
    Write("ACE_IEC-60617_MENU.DAT", Bytes(CrLf({"x", "saved"}), TextEncoding::Utf16LE));
    menu.Replace();
    EXPECT_EQ(Lines("ACE_IEC_MENU.DAT"), QStringList({"**M0", "a", "b", kEntry, "c"}) + block);
    EXPECT_EQ(Lines("ACE_IEC-60617_MENU.DAT"), QStringList({"x", "saved"}) + block);
    EXPECT_EQ(menu.Lines().value(1).after, 2 + block.size());
}

TEST_F(MenuTest, FailuresLeaveEveryMenuFileAsItWas) {
    const QStringList menu{"**M0", "a", "b", "c"};
    const QByteArray first = Bytes(CrLf(menu), TextEncoding::Utf8);
    const QByteArray follow = Bytes("**M0\nx\ny\nz", TextEncoding::Ansi);
    Write("ACE_IEC_MENU.DAT", first);
    Write("ACE_IEC-60617_MENU.DAT", follow);
    auto expectUnchanged = [&] {
        EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), first);
        EXPECT_EQ(Read("ACE_IEC-60617_MENU.DAT"), follow);
    };
    auto failure = [&](const std::function<void(AppState&)>& op) -> QString {
        ResetMenu();
        try {
            op(st);
        } catch (const AppError& e) {
            return e.message();
        }
        ADD_FAILURE() << "no error";
        return {};
    };

    // No "data\menu.txt": reported after the first menu file was read, nothing written.
    QString msg = failure(InsertMakerMenu);
    EXPECT_TRUE(msg.startsWith("Cannot open file \"") && msg.contains("menu.txt\". "))
        << msg.toStdString();
    EXPECT_EQ(st.avocadmenu, First());
    expectUnchanged();
    msg = failure(deploy::RemoveMakerMenu);
    EXPECT_TRUE(msg.contains("menu.txt") && msg.contains("Файлы меню не изменены"))
        << msg.toStdString();
    expectUnchanged();

    // A "data\menu.txt" whose first line does not open submenu M400.
    WriteMakerMenu(Bytes("Заголовок\r\n**M400\r\n", TextEncoding::Ansi));
    msg = failure(InsertMakerMenu);
    EXPECT_TRUE(msg.contains("*M400")) << msg.toStdString();
    expectUnchanged();

    // A follow-up file that cannot be read: the first file is not written either.
    const QStringList block = MakerBlock(20);
    WriteMakerMenu(Bytes(CrLf(block), TextEncoding::Ansi));
    QFile::remove(tmp.file("Support/ACE_IEC-60617_MENU.DAT"));
    msg = failure(InsertMakerMenu);
    EXPECT_TRUE(msg.startsWith("Cannot open file \"") && msg.contains("ACE_IEC-60617_MENU.DAT"));
    EXPECT_EQ(st.avocadmenu, FollowUp());
    EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), first);
    Write("ACE_IEC-60617_MENU.DAT", follow);

    // The maker's block edited in the follow-up file: its lines cannot be told apart, so
    // neither file is written by Clean or Install.
    ResetMenu();
    InsertMakerMenu(st);
    const QByteArray installed = Read("ACE_IEC_MENU.DAT");
    QStringList edited = Lines("ACE_IEC-60617_MENU.DAT");
    edited[edited.size() - 5] = "правка пользователя";
    const QByteArray editedFollow = Bytes(CrLf(edited), TextEncoding::Ansi);
    Write("ACE_IEC-60617_MENU.DAT", editedFollow);
    for (auto op : {deploy::RemoveMakerMenu, InsertMakerMenu}) {
        msg = failure(op);
        EXPECT_TRUE(msg.contains("Не удалось распознать подменю ЗЕЛК") &&
                    msg.contains("ACE_IEC-60617_MENU.DAT"))
            << msg.toStdString();
        EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), installed);
        EXPECT_EQ(Read("ACE_IEC-60617_MENU.DAT"), editedFollow);
    }
    QStringList newer = block;
    newer[5] = "Новая строка";
    WriteMakerMenu(Bytes(CrLf(newer), TextEncoding::Ansi));
    // The first file is still recognised from the copy Install kept, the edited follow-up
    // file is not: neither is written.
    msg = failure(deploy::RemoveMakerMenu);
    EXPECT_TRUE(msg.contains("ACE_IEC-60617_MENU.DAT")) << msg.toStdString();
    EXPECT_EQ(Read("ACE_IEC_MENU.DAT"), installed);

    // A missing first menu file.
    QFile::remove(tmp.file("Support/ACE_IEC_MENU.DAT"));
    msg = failure(deploy::RemoveMakerMenu);
    EXPECT_TRUE(msg.startsWith("Cannot open file \"") && msg.contains("ACE_IEC_MENU.DAT"));
    EXPECT_EQ(Read("ACE_IEC-60617_MENU.DAT"), editedFollow);
}

}  // namespace

namespace {

class MenuUpdateTest : public MenuTest {};

// An update replaces "data\menu.txt" between Install and Clean (or the next Install): the
// block appended earlier is still recognised from the copy Install kept beside the data.
TEST_F(MenuUpdateTest, BlockFromBeforeAnUpdateIsStillTakenOut) {
    const QStringList menu{"**M0", "Меню IEC", "ICONS", "a", "b"};
    const QStringList followMenu{"**M0", "IEC 60617", "a", "b"};
    const QStringList oldBlock = MakerBlock(30);
    QStringList newBlock = MakerBlock(33);
    newBlock[2] = QStringLiteral("Новая страница|IMAGES\\zelk_new.png|$S=M410");
    // The menus as before Install, installed with the old block, then the update.
    auto installThenUpdate = [&] {
        Write("ACE_IEC_MENU.DAT", Bytes(CrLf(menu), TextEncoding::Ansi));
        Write("ACE_IEC-60617_MENU.DAT", Bytes(CrLf(followMenu), TextEncoding::Ansi));
        WriteMakerMenu(Bytes(CrLf(oldBlock), TextEncoding::Ansi));
        ResetMenu();
        InsertMakerMenu(st);
        WriteMakerMenu(Bytes(CrLf(newBlock), TextEncoding::Ansi));
        ResetMenu();
    };
    auto cleanGivesBackBothMenus = [&] {
        ResetMenu();
        deploy::RemoveMakerMenu(st);
        EXPECT_EQ(Lines("ACE_IEC_MENU.DAT"), menu);
        EXPECT_EQ(Lines("ACE_IEC-60617_MENU.DAT"), followMenu);
    };

    // Install, update, Clean.
    installThenUpdate();
    cleanGivesBackBothMenus();

    // Install, update, Install again: the new block replaces the old one; Clean then
    // takes it out.
    installThenUpdate();
    InsertMakerMenu(st);
    const QStringList installed = Lines("ACE_IEC_MENU.DAT");
    EXPECT_EQ(installed.count(kEntry), 1);
    EXPECT_EQ(installed.mid(installed.size() - newBlock.size()), newBlock);
    EXPECT_EQ(installed.size(), menu.size() + 1 + newBlock.size());
    cleanGivesBackBothMenus();
}

}  // namespace
