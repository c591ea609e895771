// The demo from end to end: the simulated AutoCAD Electrical profiles of scripts/demo.sh,
// the sample data package beside the tool, and the real window (offscreen) running start-up,
// Install of all 17 groups and Clean.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>

#include "DemoChecks.h"
#include "DemoSupport.h"
#include "DemoWindow.h"
#include "app/view.h"
#include "catalog/CatalogDb.h"
#include "core/AppState.h"
#include "core/TextFile.h"
#include "support/TempDir.h"

namespace {

const QString kEntry = QStringLiteral("ЗЕЛК|IMAGES\\zelk.png|$S=M400");
const QString kMaker = QStringLiteral("ЗЕЛК");

QStringList Items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

}  // namespace

// A release the demo lays out: its year, its release folder, the version field's items.
struct DemoRelease {
    const char *year, *release, *versions;
};
void PrintTo(const DemoRelease& r, std::ostream* os) { *os << r.year; }
class Demo : public ::testing::TestWithParam<DemoRelease> {};

TEST_P(Demo, InstallOfAllGroupsAndCleanOnTheDemoProfile) {
    TempDir tmp;
    const demo::Layout l{tmp.path() + "demo", GetParam().year, GetParam().release};
    ASSERT_EQ(demo::LayOut(l), "");
    EnvGuard user("USERPROFILE", l.userprofile());
    EnvGuard pub("PUBLIC", l.publicprofile());
    CurrentDirGuard cd(l.tool());

    const demo::DbRows catalogBefore = demo::ReadDb(l.catalog());
    const demo::DbRows package = demo::ReadDb(l.tool() + "/ZELK_install.mdb");
    const QStringList imagesBefore = demo::Files(l.images());
    const QStringList libraryBefore = demo::Files(l.library());
    const QString menus[] = {l.support() + "/ACE_IEC_MENU.DAT",
                             l.support() + "/ACE_IEC-60617_MENU.DAT"};
    const QByteArray menuBefore[] = {demo::ReadBytes(menus[0]), demo::ReadBytes(menus[1])};
    const QStringList block = ReadTextFile(l.tool() + "/data/menu.txt").lines;
    ASSERT_FALSE(block.isEmpty());

    // The window as the tool starts it from its folder; the start-up check finds no network
    // (nothing listens on 127.0.0.1:1).
    App();
    AppState st;
    catalog::CatalogDb db(st);
    TForm2 w(st, db, nullptr);
    QStringList messages, errors;
    w.dialogs.message = [&](QWidget*, const QString&, const QString& text) { messages << text; };
    w.dialogs.error = [&](QWidget*, const QString&, const QString& text) { errors << text; };
    w.SetExecutableFolder(l.tool());
    w.FormCreate(update::ProbeTarget{QStringLiteral("127.0.0.1"), 1, 200});
    w.show();
    ASSERT_EQ(errors, QStringList());
    EXPECT_EQ(w.StatusText(), " Ошибка скачивания файла: отсутствует интернет соединение");
    EXPECT_EQ(w.ComboBox1Text(), l.year);
    QStringList versions;
    for (int i = 0; i < w.ComboBox1->count(); ++i) versions << w.ComboBox1->itemText(i);
    EXPECT_EQ(versions.join(' '), GetParam().versions);
    EXPECT_EQ(w.ComboBox2Text(), "rus");
    EXPECT_EQ(w.Edit2Text().replace(QLatin1Char('\\'), QLatin1Char('/')), l.catalog());
    EXPECT_EQ(Items(w.ListBox1), demo::GroupNames());

    // ">>", then Install of all 17 groups.
    w.Button2->click();
    ASSERT_EQ(Items(w.ListBox2).size(), 17);
    w.Button5->click();
    ASSERT_EQ(errors, QStringList());
    ASSERT_EQ(messages, QStringList({"Установка произведена успешно"}));

    const demo::DbRows catalogAfter = demo::ReadDb(l.catalog());
    const auto families = package.at("_FAMILY_DESCRIPTION");
    ASSERT_EQ(families.size(), 17);
    for (const QString& f : families) {
        const QString code = f.split('|').at(1);
        SCOPED_TRACE(code.toStdString());
        // Every sample row arrived once, the other manufacturer's rows stayed.
        EXPECT_EQ(demo::RowsOf(catalogAfter, code, kMaker), package.at(code));
        QStringList others = catalogAfter.at(code);
        for (const QString& r : package.at(code)) others.removeOne(r);
        EXPECT_EQ(others, catalogBefore.at(code));
    }
    EXPECT_EQ(catalogAfter.at("_PINLIST_ЗЕЛК"), package.at("_PINLIST_ЗЕЛК"));
    EXPECT_TRUE(catalogAfter.count("PNEU-GAU"));

    const QStringList shippedImages = demo::Files(l.tool() + "/data/IMAGES");
    const QStringList shippedLibrary = demo::Files(l.tool() + "/data/ZELK");
    for (const QString& name : shippedImages)
        EXPECT_EQ(demo::ReadBytes(l.images() + "/" + name),
                  demo::ReadBytes(l.tool() + "/data/IMAGES/" + name))
            << name.toStdString();
    for (const QString& name : shippedLibrary)
        EXPECT_TRUE(QFile::exists(l.library() + "/" + name)) << name.toStdString();
    EXPECT_EQ(demo::Files(l.images()).size(), imagesBefore.size() + shippedImages.size());
    EXPECT_EQ(demo::Files(l.library()).size(), libraryBefore.size() + shippedLibrary.size());

    // Both menu files: the entry 3 lines below the head of menu M0, the block at the end.
    for (const QString& menu : menus) {
        SCOPED_TRACE(menu.toStdString());
        const TextLines text = ReadTextFile(menu);
        EXPECT_EQ(text.encoding, TextEncoding::Ansi);
        const qsizetype head = text.lines.indexOf("**M0");
        ASSERT_GE(head, 0);
        EXPECT_EQ(text.lines.value(head + 3), kEntry);
        EXPECT_EQ(text.lines.count(kEntry), 1);
        EXPECT_EQ(text.lines.mid(text.lines.size() - block.size()), block);
    }

    // Clean: everything as it was before Install.
    messages.clear();
    w.Button6->click();
    ASSERT_EQ(errors, QStringList());
    ASSERT_EQ(messages, QStringList({"Чистка завершена успешно!"}));

    demo::DbRows catalogClean = demo::ReadDb(l.catalog());
    EXPECT_FALSE(catalogClean.count("_PINLIST_ЗЕЛК"));
    catalogClean.erase("PNEU-GAU");  // created by Install, kept by Clean
    EXPECT_EQ(catalogClean, catalogBefore);
    EXPECT_EQ(demo::Files(l.images()), imagesBefore);
    EXPECT_EQ(demo::Files(l.library()), libraryBefore);
    EXPECT_EQ(demo::ReadBytes(menus[0]), menuBefore[0]);
    EXPECT_EQ(demo::ReadBytes(menus[1]), menuBefore[1]);
}

INSTANTIATE_TEST_SUITE_P(Releases, Demo,
                         ::testing::Values(DemoRelease{"2017", "R21.0", "2017 2016"},
                                           DemoRelease{"2025", "R25.0", "2025 2017 2016"}),
                         [](const auto& info) { return std::string(info.param.year); });
