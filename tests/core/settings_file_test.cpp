#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "core/AppError.h"
#include "core/IniFile.h"
#include "support/TempDir.h"

namespace {
QByteArray Cp1251(const QString& s) {
    QByteArray out;
    for (QChar c : s) {
        const ushort u = c.unicode();
        if (u < 0x80)
            out.append(char(u));
        else if (u >= 0x0410 && u <= 0x044F)
            out.append(char(0xC0 + (u - 0x0410)));  // А..я are contiguous in Windows-1251
        else if (u == 0x0401)
            out.append(char(0xA8));  // Ё
        else if (u == 0x0451)
            out.append(char(0xB8));  // ё
        else
            ADD_FAILURE() << "no Windows-1251 byte in this helper for U+" << u;
    }
    return out;
}
}  // namespace

TEST(SettingsFile, MissingPartsReadEmptyAndLongValuesAreCut) {
    TempDir dir;
    IniFile missing(dir.file("config.ini"));
    EXPECT_EQ(missing.ReadString("BASE", "PATH", ""), "");
    EXPECT_FALSE(QFile::exists(dir.file("config.ini")));  // reading creates nothing

    const QByteArray longValue(3000, 'x');
    dir.write("config.ini",
              "[BASE]\r\nPATH=C:\\a.mdb\r\n[Update]\r\nlong=" + longValue + "\r\nempty=\r\n");
    IniFile ini(dir.file("config.ini"));
    EXPECT_EQ(ini.ReadString("BASE", "OTHER", ""), "");
    EXPECT_EQ(ini.ReadString("NOSECTION", "PATH", ""), "");
    EXPECT_EQ(ini.ReadString("Update", "empty", ""), "");
    EXPECT_EQ(ini.ReadString("Update", "PATH", ""), "");  // keys belong to their own section
    EXPECT_EQ(ini.ReadString("Update", "long", "").size(), IniFile::kMaxValueLength);
    EXPECT_EQ(ini.ReadString("BASE", "PATH", ""), "C:\\a.mdb");

    // A folder in place of the file reads empty too.
    dir.mkdir("folder.ini");
    EXPECT_EQ(IniFile(dir.file("folder.ini")).ReadString("BASE", "PATH", ""), "");

    // The user's own settings over the tool's as defaults: a key the user's file lacks (even
    // in a section it has) reads from the defaults, one it has (even empty) does not; writes go
    // to the user's file alone.
    dir.write("user.ini", "[Update]\r\nempty=\r\n");
    IniFile user(dir.file("user.ini"), dir.file("config.ini"));
    EXPECT_EQ(user.ReadString("BASE", "PATH", ""), "C:\\a.mdb");
    EXPECT_EQ(user.ReadString("Update", "empty", "x"), "");
    user.WriteString("BASE", "PATH", "D:\\b.mdb");
    EXPECT_EQ(user.ReadString("BASE", "PATH", ""), "D:\\b.mdb");
    EXPECT_EQ(ini.ReadString("BASE", "PATH", ""), "C:\\a.mdb");
}

TEST(SettingsFile, NamesMatchWithoutCaseCyrillicIncluded) {
    TempDir dir;
    dir.write("config.ini", "; written by hand\n[base]\npath = D:\\cat.mdb\n" +
                                Cp1251(QStringLiteral("[Раздел]\nКлюч=значение\n")));
    IniFile ini(dir.file("config.ini"));
    EXPECT_EQ(ini.ReadString("BASE", "PATH", ""), "D:\\cat.mdb");
    EXPECT_EQ(ini.ReadString(QStringLiteral("РАЗДЕЛ"), QStringLiteral("ключ"), ""),
              QStringLiteral("значение"));

    // Writing through other letter cases replaces the hand-written key in place.
    ini.WriteString("BASE", "PATH", "E:\\new.mdb");
    ini.WriteString(QStringLiteral("раздел"), QStringLiteral("КЛЮЧ"), QStringLiteral("другое"));
    EXPECT_EQ(dir.read("config.ini"), "; written by hand\r\n[base]\r\nPATH=E:\\new.mdb\r\n" +
                                          Cp1251(QStringLiteral("[Раздел]\r\nКЛЮЧ=другое\r\n")));
}

TEST(SettingsFile, WritesCreateFileAndSectionAndKeepEveryOtherLine) {
    TempDir dir;
    IniFile ini(dir.file("config.ini"));
    ini.WriteString("Update", "local_date", "09.09.1999");
    EXPECT_EQ(dir.read("config.ini"), "[Update]\r\nlocal_date=09.09.1999\r\n");

    // The catalog choice writes [BASE]; the [Update] section and foreign lines stay as they were.
    dir.write("config.ini",
              "[Update]\r\nlocal_date=01.02.2020\r\n\r\n[Other]\r\nx=1\r\n; note\r\n");
    const QString path = QStringLiteral(
        "C:\\Users\\Пётр Иванов\\Documents\\Acade 2017\\AeData\\"
        "Catalogs\\default_cat.mdb");
    ini.WriteString("BASE", "PATH", path);
    ini.WriteString("BASE", "PATH", path);  // the same choice twice makes no second entry
    ini.WriteString("Other", "y", "2");
    EXPECT_EQ(
        dir.read("config.ini").toHex(' ').toStdString(),
        QByteArray("[Update]\r\nlocal_date=01.02.2020\r\n\r\n[Other]\r\nx=1\r\n; note\r\ny=2\r\n"
                   "[BASE]\r\nPATH=" +
                   Cp1251(path) + "\r\n")
            .toHex(' ')
            .toStdString());
    EXPECT_EQ(ini.ReadString("BASE", "PATH", ""), path);
    EXPECT_EQ(ini.ReadString("Update", "local_date", ""), "01.02.2020");
    // Nothing is cached: a change made behind the object's back is what the next read returns.
    dir.write("config.ini", "[BASE]\r\nPATH=Z:\\z.mdb\r\n");
    EXPECT_EQ(ini.ReadString("BASE", "PATH", ""), "Z:\\z.mdb");
}

TEST(SettingsFile, Utf16FileStaysUtf16) {
    TempDir dir;
    const QString text = QStringLiteral("[Update]\r\nlocal_date=05.05.2005\r\n");
    QByteArray bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    dir.write("config.ini", bytes);
    IniFile ini(dir.file("config.ini"));
    EXPECT_EQ(ini.ReadString("update", "LOCAL_DATE", ""), "05.05.2005");
    const QString path = QStringLiteral("C:\\Каталог\\base.mdb");
    ini.WriteString("BASE", "PATH", path);
    const QByteArray out = dir.read("config.ini");
    ASSERT_TRUE(out.startsWith("\xFF\xFE"));
    const QString expected =
        text + QStringLiteral("[BASE]\r\nPATH=") + path + QStringLiteral("\r\n");
    EXPECT_EQ(QString::fromUtf16(reinterpret_cast<const char16_t*>(out.constData() + 2),
                                 (out.size() - 2) / 2),
              expected);
    EXPECT_EQ(ini.ReadString("BASE", "PATH", ""), path);
}

TEST(SettingsFile, RefusedWriteRaisesWithFullPathAndTouchesNothing) {
    TempDir dir;
    // A folder that does not exist.
    const QString inMissing = dir.file("no/such/folder/config.ini");
    try {
        IniFile(inMissing).WriteString("BASE", "PATH", "x");
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + QDir::toNativeSeparators(inMissing));
    }
    EXPECT_FALSE(QFile::exists(inMissing));

    // A folder where the file should be.
    const QString asFolder = dir.mkdir("config.ini");
    dir.write("config.ini/keep.txt", "keep");
    try {
        IniFile(asFolder).WriteString("BASE", "PATH", "x");
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + QDir::toNativeSeparators(asFolder));
    }
    EXPECT_EQ(dir.read("config.ini/keep.txt"), "keep");

    // A relative name is reported with its full path.
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    try {
        IniFile("config.ini").WriteString("BASE", "PATH", "x");
        ADD_FAILURE() << "no error";
    } catch (const AppError& e) {
        EXPECT_EQ(e.message(),
                  "Unable to write to " +
                      QDir::toNativeSeparators(QDir(dir.path()).absoluteFilePath("config.ini")));
    }
    QDir::setCurrent(old);
}

TEST(ErrorBox, FullStopAppendedAfterCharactersAboveIt) {
    EXPECT_EQ(ErrorBoxText("Table not found"), "Table not found.");
    EXPECT_EQ(ErrorBoxText(QStringLiteral("Ошибка")), QStringLiteral("Ошибка."));
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("Why!"), "Why!");  // '!' is below '.'
    EXPECT_EQ(ErrorBoxText("path C:\\"), "path C:\\.");
    EXPECT_EQ(ErrorBoxText(""), "");
}
