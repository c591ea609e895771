// The text rules shared by the menu files, "data\menu.txt" and the project files.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef __linux__
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "core/AppError.h"
#include "core/FileSystem.h"
#include "core/TextFile.h"
#include "support/TempDir.h"
#include "support/TextBytes.h"

namespace {

TEST(TextFile, EncodingFollowsTheByteOrderMarkAndTheMarkIsNoText) {
    const QString text = QStringLiteral("ЗЕЛК|IMAGES\\zelk.png\r\nМеню ✓\r\n");
    struct Case {
        QByteArray bytes;
        TextEncoding enc;
    };
    const Case cases[] = {{Bytes(text, TextEncoding::Utf8), TextEncoding::Utf8},
                          {Bytes(text, TextEncoding::Utf16LE), TextEncoding::Utf16LE},
                          {Bytes(text, TextEncoding::Utf16BE), TextEncoding::Utf16BE}};
    for (const Case& c : cases) {
        const TextLines t = DecodeText(c.bytes);
        EXPECT_EQ(t.encoding, c.enc);
        EXPECT_EQ(t.lines, QStringList({"ЗЕЛК|IMAGES\\zelk.png", "Меню ✓"}));
        EXPECT_EQ(EncodeText(t), c.bytes);  // written back with its mark, unchanged
    }

    // No mark: the ANSI code page, Windows-1251 ("ЗЕЛК" is C7 C5 CB CA).
    const TextLines ansi = DecodeText(QByteArray("\xC7\xC5\xCB\xCA|\xB8\xA8 a"));
    EXPECT_EQ(ansi.encoding, TextEncoding::Ansi);
    EXPECT_EQ(ansi.lines, QStringList({"ЗЕЛК|ёЁ a"}));
    // UTF-8 without a mark is read as ANSI too and written back byte for byte.
    const QByteArray bare = QStringLiteral("Щит\r\n").toUtf8();
    EXPECT_EQ(DecodeText(bare).encoding, TextEncoding::Ansi);
    EXPECT_EQ(EncodeText(DecodeText(bare)), bare);
    // A lone half of a mark is text.
    EXPECT_EQ(DecodeText(QByteArray("\xFF"
                                    "a"))
                  .encoding,
              TextEncoding::Ansi);
    // A second mark right after the first is text, kept through reading and writing.
    for (const TextEncoding enc :
         {TextEncoding::Utf8, TextEncoding::Utf16LE, TextEncoding::Utf16BE}) {
        const QByteArray twice = Bytes(QStringLiteral("\uFEFFa\r\n"), enc);
        EXPECT_EQ(DecodeText(twice).lines, QStringList({QStringLiteral("\uFEFFa")}));
        EXPECT_EQ(EncodeText(DecodeText(twice)), twice);
    }
    // A mark alone is an empty file of that encoding.
    EXPECT_EQ(DecodeText(QByteArray("\xEF\xBB\xBF")).lines, QStringList());
    EXPECT_EQ(DecodeText(QByteArray("\xFE\xFF")).encoding, TextEncoding::Utf16BE);
}

TEST(TextFile, LinesEndAtCrLfCrOrLfAndAFinalTerminatorAddsNoLine) {
    const auto lines = [](const char* s) { return DecodeText(QByteArray(s)).lines; };
    EXPECT_EQ(lines("a\r\nb\rc\nd"), QStringList({"a", "b", "c", "d"}));
    EXPECT_EQ(lines("a\r\n"), QStringList({"a"}));
    EXPECT_EQ(lines("a\r"), QStringList({"a"}));
    EXPECT_EQ(lines("a\n\n"), QStringList({"a", ""}));
    EXPECT_EQ(lines("\n\r"), QStringList({"", ""}));  // LF then a lone CR
    EXPECT_EQ(lines("\r\n"), QStringList({""}));
    EXPECT_EQ(lines(""), QStringList());
    // The same rules in UTF-16, where CR and LF are two bytes each.
    EXPECT_EQ(DecodeText(Bytes("x\ry\r\n\nz\n", TextEncoding::Utf16LE)).lines,
              QStringList({"x", "y", "", "z"}));
}

TEST(TextFile, WritingPutsCrLfAfterEveryLineAndReplacesUnmappableCharacters) {
    EXPECT_EQ(EncodeText({{"a", "", "b"}, TextEncoding::Ansi}), QByteArray("a\r\n\r\nb\r\n"));
    EXPECT_EQ(EncodeText({{}, TextEncoding::Ansi}), QByteArray());
    EXPECT_EQ(EncodeText({{}, TextEncoding::Utf8}), QByteArray("\xEF\xBB\xBF"));
    EXPECT_EQ(EncodeText({{"Я"}, TextEncoding::Utf16BE}),
              QByteArray("\xFE\xFF\x04\x2F\0\r\0\n", 8));
    // What the ANSI code page lacks becomes its default character.
    EXPECT_EQ(EncodeText({{"ЗЕЛК ✓ 中"}, TextEncoding::Ansi}),
              QByteArray("\xC7\xC5\xCB\xCA ? ?\r\n"));
}

TEST(TextFile, WholeFilesAreReplacedInOneStepAndFailuresNameTheFile) {
    TempDir tmp;
    const QString path = tmp.file("m.dat");
    tmp.write("m.dat", "old content that is longer than the new one\r\n");
    WriteTextFile(path, {{"ЗЕЛК"}, TextEncoding::Utf16LE});
    EXPECT_EQ(tmp.read("m.dat"), Bytes("ЗЕЛК\r\n", TextEncoding::Utf16LE));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList({"m.dat"}));  // no leftovers
    const TextLines back = ReadTextFile(path);
    EXPECT_EQ(back.encoding, TextEncoding::Utf16LE);
    EXPECT_EQ(back.lines, QStringList({"ЗЕЛК"}));

    try {
        ReadTextFile(tmp.file("missing.dat"));
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().startsWith("Cannot open file \"") &&
                    e.message().contains("missing.dat\". "))
            << e.message().toStdString();
    }
    try {
        WriteTextFile(tmp.file("no/such/folder/m.dat"), {{"x"}, TextEncoding::Ansi});
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().startsWith("Cannot create file \"") &&
                    e.message().contains("m.dat\". "))
            << e.message().toStdString();
    }
}

// The maker's files copied in one batch: nothing under its name before the commit, nothing
// left of an abandoned batch, and a file that appeared meanwhile is never replaced. Read-only
// sources and leftovers (an unpacked archive, a copy from a CD) stand in the way of nothing.
TEST(TextFile, BatchOfCopiesTakesItsNamesTogetherAndNeverReplaces) {
    TempDir tmp;
    const QString a = tmp.write("src/a.png", "A"), b = tmp.write("src/b.png", "B"),
                  d = tmp.write("src/d.png", "D");
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser | QFileDevice::ReadOther;
    const QString part = fs::kPartSuffix;
    tmp.mkdir("dst");
    {
        fs::FileBatch abandoned;
        ASSERT_TRUE(abandoned.Copy(a, tmp.file("dst/a.png")));
    }
    EXPECT_EQ(QDir(tmp.file("dst")).entryList(QDir::Files), QStringList());

    // The temporaries a killed run left are taken over, a read-only one too; a copy keeps the
    // source's permissions but for the write bit: a read-only source makes an ordinary file.
    tmp.write("dst/a.png" + part, "half");
    ASSERT_TRUE(QFile::setPermissions(d, readOnly) &&
                QFile::setPermissions(tmp.write("dst/d.png" + part, "half"), readOnly));
    const auto perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(a, perms));
    fs::FileBatch batch;
    ASSERT_TRUE(batch.Copy(a, tmp.file("dst/a.png")) && batch.Copy(b, tmp.file("dst/b.png")) &&
                batch.Copy(d, tmp.file("dst/d.png")));
    EXPECT_FALSE(batch.Copy(tmp.file("src/missing.png"), tmp.file("dst/c.png")));
    EXPECT_FALSE(QFileInfo::exists(tmp.file("dst/a.png")));
    tmp.write("dst/b.png", "the user's own");
    EXPECT_TRUE(batch.Flush());
    EXPECT_EQ(batch.Commit(), QStringList{tmp.file("dst/b.png")});
    EXPECT_EQ(tmp.read("dst/a.png") + tmp.read("dst/d.png"), "AD");
#ifndef _WIN32
    EXPECT_EQ(QFile::permissions(tmp.file("dst/a.png")) & ~QFileDevice::Permissions(0x0700), perms);
#endif
    EXPECT_TRUE(QFile::permissions(tmp.file("dst/d.png")) & QFileDevice::WriteOwner);
    EXPECT_EQ(tmp.read("dst/b.png"), "the user's own");
    EXPECT_EQ(QDir(tmp.file("dst")).entryList(QDir::Files),
              QStringList({"a.png", "b.png", "d.png"}));

    // Taken back, what the batch placed goes, read-only by now or not; so does a read-only
    // leftover of a killed run.
    ASSERT_TRUE(QFile::setPermissions(tmp.file("dst/d.png"), readOnly) &&
                QFile::setPermissions(tmp.write("dst/e.png" + part, "e"), readOnly));
    EXPECT_EQ(batch.TakeBack(), QStringList());
    EXPECT_EQ(fs::RemoveLeftovers(tmp.file("dst")).size(), 1);
    EXPECT_EQ(QDir(tmp.file("dst")).entryList(QDir::Files), QStringList({"b.png"}));
}

// Menu files written together: none replaces its file unless every one could be written, and
// then they replace their files in order; nothing temporary stays either way.
TEST(TextFile, FilesWrittenTogetherReplaceTheirsOnlyWhenAllAreWritten) {
    TempDir tmp;
    const QString a = tmp.write("m/a.dat", "old a"), b = tmp.write("m/b.dat", "old b");
    tmp.mkdir("m/folder");
    try {
        fs::WriteAtomicTogether({{a, "new a"}, {tmp.file("m/folder"), "x"}, {b, "new b"}});
        ADD_FAILURE();
    } catch (const AppError& e) {
        EXPECT_TRUE(e.message().startsWith("Cannot create file \"") &&
                    e.message().contains("folder\". "))
            << e.message().toStdString();
    }
    EXPECT_EQ(tmp.read("m/a.dat"), "old a");
    fs::WriteAtomicTogether({{a, "new a"}, {b, "new b"}, {tmp.file("m/c.dat"), "c"}});
    EXPECT_EQ(tmp.read("m/a.dat") + tmp.read("m/b.dat") + tmp.read("m/c.dat"), "new anew bc");
    EXPECT_EQ(QDir(tmp.file("m")).entryList(QDir::Files), QStringList({"a.dat", "b.dat", "c.dat"}));
}

#ifdef __linux__
// The catalog backup of a 150 MB catalog: the copy goes through a buffer of fixed size, so the
// process grows by far less than the file (the release is a 32-bit process, and a catalog may
// come near Jet's 2 GB).
TEST(TextFile, CopyingALargeFileKeepsMemoryBounded) {
    TempDir tmp;
    const QString from = tmp.file("default_cat.mdb"), to = tmp.file("default_cat.mdb.bak");
    {
        QFile f(from);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        for (int mb = 0; mb < 150; ++mb) {  // each MB its own, so a misplaced one shows
            const QByteArray page(1 << 20, char('a' + mb % 26));
            ASSERT_EQ(f.write(page), page.size());
        }
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rusage before{}, after{};
        ::getrusage(RUSAGE_SELF, &before);
        try {
            fs::CopyAtomic(from, to);
        } catch (...) {
            ::_exit(2);
        }
        ::getrusage(RUSAGE_SELF, &after);
        ::_exit(after.ru_maxrss - before.ru_maxrss < 32 * 1024 ? 0 : 1);  // kilobytes
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the copy grew the process by 32 MB or more";
    EXPECT_EQ(QFileInfo(to).size(), QFileInfo(from).size());
    // Written behind and dropped from the file cache as it went, the copy reads back whole.
    const auto digest = [](const QString& file) {
        QFile f(file);
        QCryptographicHash h(QCryptographicHash::Sha256);
        return f.open(QIODevice::ReadOnly) && h.addData(&f) ? h.result() : QByteArray();
    };
    EXPECT_EQ(digest(to), digest(from));
    EXPECT_FALSE(digest(to).isEmpty());
}
#endif

}  // namespace
