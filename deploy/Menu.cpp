// Icon menu file editing.
//
// Install adds the maker's entry line three lines below every head line of menu M0 and appends
// the maker's submenu (the lines of "data\menu.txt") at the end of the menu file; Clean takes
// both out again. Every other line of a menu file is left as it was.
//
// Both operations first work out the new content of every file they touch and write only when
// all of them could be read and understood, so a file that cannot be read or recognised leaves
// every menu file as it was; each file is then replaced in one step. The maker's lines are
// recognised by their exact text: the entry line, and the submenu block as one contiguous run of
// the lines of "data\menu.txt" starting at its
// "*M400" line. Install also keeps a copy of the block it appended ("data\menu_installed.txt"),
// so a block written from an older "data\menu.txt" (before an update replaced it) is still
// recognised. A submenu M400 that matches neither (edited by hand) cannot be told apart from
// the user's own lines: then nothing is written and the user is told so. Install removes the
// maker's earlier lines the same way before it inserts, so installing again leaves one entry
// per head line and one block.

#include "deploy/Menu.h"

#include <QScopeGuard>
#include <map>
#include <vector>

#include "core/AppError.h"
#include "core/AppState.h"
#include "core/FileSystem.h"
#include "core/TextFile.h"

namespace deploy {

namespace {

const QString kEntryLine = QStringLiteral("ЗЕЛК|IMAGES\\zelk.png|$S=M400");
const QString kHeadMarker = QStringLiteral("**M0");
const QString kQuotedHeadMarker = QStringLiteral("\"**M0\"");
const QString kBlockMarker = QStringLiteral("*M400");
constexpr qsizetype kInsertOffset = 3;

const QString kMakerMenuFile = QStringLiteral("data\\menu.txt");
const QString kInstalledBlockFile = QStringLiteral("data\\menu_installed.txt");
const QString kFirstMenuName = QStringLiteral("ACE_IEC_MENU.DAT");
const QString kFollowUpMenuName = QStringLiteral("ACE_IEC-60617_MENU.DAT");

// A line as it reads back after being written in `enc`: in the ANSI code page, characters it
// lacks have become its default character.
QString AsStored(const QString& line, TextEncoding enc) {
    if (enc == TextEncoding::Ansi) return AnsiToString(StringToAnsi(line));
    return DecodeText(EncodeText(TextLines{{line}, enc})).lines.value(0);
}

QStringList AsStored(const QStringList& lines, TextEncoding enc) {
    // All lines in one conversion each way: the conversions go character by character, so
    // lines without line breaks come back one for one, as each would alone.
    QStringList out =
        enc == TextEncoding::Ansi
            ? AnsiToString(StringToAnsi(lines.join(QLatin1Char('\n')))).split(QLatin1Char('\n'))
            : DecodeText(EncodeText(TextLines{lines, enc})).lines;
    if (out.size() == lines.size()) return out;
    out.clear();
    for (const QString& l : lines) out << AsStored(l, enc);
    return out;
}

// The head of submenu M400: "*M400" not continued by a letter or digit ("**M4001" is another
// menu).
bool IsMakerSubmenuHead(const QString& line) {
    for (qsizetype at = line.indexOf(kBlockMarker); at >= 0;
         at = line.indexOf(kBlockMarker, at + 1)) {
        const qsizetype next = at + kBlockMarker.size();
        if (next >= line.size() || !line.at(next).isLetterOrNumber()) return true;
    }
    return false;
}

bool BlockAt(const QStringList& lines, qsizetype at, const QStringList& block) {
    if (at + block.size() > lines.size()) return false;
    for (qsizetype j = 0; j < block.size(); ++j)
        if (lines.at(at + j) != block.at(j)) return false;
    return true;
}

[[noreturn]] void Unrecognised(const QString& path) {
    throw AppError(
        QStringLiteral("Не удалось распознать подменю ЗЕЛК в файле меню \"%1\": его строки не "
                       "совпадают со строками файла \"data\\menu.txt\", и нельзя определить, какие "
                       "строки добавлены установкой. Файлы меню не изменены; уберите подменю M400 "
                       "из этого файла вручную")
            .arg(fs::FullPath(path)));
}

// The maker's lines as they read back in a menu file's encoding: the blocks of submenu M400
// it may hold and the entry line, converted once for each encoding met.
class MakerLines {
  public:
    explicit MakerLines(QList<QStringList> blocks) : blocks_(std::move(blocks)) {}
    struct Stored {
        QList<QStringList> blocks;
        QString entry;
    };
    const Stored& In(TextEncoding enc) {
        auto it = stored_.find(enc);
        if (it != stored_.end()) return it->second;
        Stored s;
        for (const QStringList& block : blocks_) s.blocks << AsStored(block, enc);
        s.entry = AsStored(kEntryLine, enc);
        return stored_.emplace(enc, std::move(s)).first->second;
    }

  private:
    QList<QStringList> blocks_;
    std::map<TextEncoding, Stored> stored_;
};

// Takes the maker's lines out of the menu file `path` read into `text`: every run of one of
// the blocks that starts at a "*M400" line, then every line equal to the entry line (all
// compared as they read back in the file's encoding). Raises when a head of submenu M400, or
// a line equal to a block's first line, is left over.
void StripMaker(const QString& path, TextLines& text, MakerLines& maker) {
    QStringList& lines = text.lines;
    QStringList heads;
    const MakerLines::Stored& stored = maker.In(text.encoding);
    for (const QStringList& block : stored.blocks) {
        if (block.isEmpty() || !block.first().contains(kBlockMarker)) continue;
        heads << block.first();
        for (qsizetype i = 0; i < lines.size();) {
            if (BlockAt(lines, i, block))
                lines.remove(i, block.size());
            else
                ++i;
        }
    }
    lines.removeAll(stored.entry);
    for (const QString& line : lines)
        if (IsMakerSubmenuHead(line) || heads.contains(line)) Unrecognised(path);
}

// The entry line 3 lines below each head line of menu M0. The bound is taken once, before the
// loop, over the list as read; each visit reads the grown list, so the last two lines, and one
// more line of the tail for each entry inserted, are never examined.
void InsertEntries(QStringList& lines) {
    const qsizetype last = lines.size() - kInsertOffset;
    for (qsizetype i = 0; i <= last; ++i) {
        const QString& line = lines.at(i);
        if (line.contains(kHeadMarker) && !line.contains(kQuotedHeadMarker))
            lines.insert(i + kInsertOffset, kEntryLine);
    }
}

struct PlannedWrite {
    QString path;
    TextLines text;
    qsizetype linesRead = -1;  // of a menu file
};

// The menu files among `writes`, with their lines before and after.
QList<MenuFileLines> CountLines(const std::vector<PlannedWrite>& writes) {
    QList<MenuFileLines> lines;
    for (const PlannedWrite& w : writes)
        if (w.linesRead >= 0) lines.append({w.path, w.linesRead, w.text.lines.size()});
    return lines;
}

// The planned files with their bytes, in the order they replace their files.
QList<std::pair<QString, QByteArray>> Encoded(const std::vector<PlannedWrite>& writes) {
    QList<std::pair<QString, QByteArray>> files;
    for (const PlannedWrite& w : writes) files.append({w.path, EncodeText(w.text)});
    return files;
}

// The maker's submenu lines; its first line must open submenu M400, or Clean could never
// find the block again.
QStringList ReadMakerBlockForInstall(const QString& tool) {
    const QString file = ToolFile(tool, kMakerMenuFile);
    QStringList block = ReadTextFile(file).lines;
    if (block.isEmpty() || !block.first().contains(kBlockMarker))
        throw AppError(QStringLiteral("Файл \"%1\" не содержит подменю ЗЕЛК: его первая строка "
                                      "должна содержать \"*M400\". Файлы меню не изменены")
                           .arg(fs::FullPath(file)));
    return block;
}

// The copies of the block that Install appended last, in the tool's folder `tool` and in the
// user's folder `userDir` (where Install keeps it when the tool's folder takes no writes).
QList<QStringList> BlockCopies(const QString& userDir, const QString& tool) {
    QList<QStringList> blocks;
    QStringList files{ToolFile(tool, kInstalledBlockFile)};
    if (!userDir.isEmpty()) files << BlockCopyFile(userDir, tool);
    for (const QString& f : files)
        if (fs::FileExists(f)) blocks << ReadTextFile(f).lines;
    return blocks;
}

// The blocks Clean recognises: the lines of "data\menu.txt" and, when Install left one, the
// copy of the block it appended last.
QList<QStringList> KnownBlocks(const QString& userDir) {
    QList<QStringList> blocks;
    const QList<QStringList> copies = BlockCopies(userDir, {});
    try {
        blocks << ReadTextFile(kMakerMenuFile).lines;
    } catch (const AppError& e) {
        if (copies.isEmpty())
            throw AppError(QStringLiteral("%1. Без строк подменю ЗЕЛК из файла \"data\\menu.txt\" "
                                          "нельзя определить, какие строки меню добавлены "
                                          "установкой. Файлы меню не изменены")
                               .arg(e.message()));
    }
    return blocks + copies;
}

bool HasFollowUp(const QString& avocadmenu, const QString& pathSupport) {
    return avocadmenu == pathSupport + kFirstMenuName;
}
// A menu file read whole; its bytes go to `read` when given.
TextLines ReadMenuFile(const QString& path, QList<std::pair<QString, QByteArray>>* read) {
    const QByteArray bytes = fs::ReadAll(path);
    if (read) read->append({path, bytes});
    return DecodeText(bytes);
}

// Install's new menu files: the copy of the block first, then each menu file. Each menu file's
// bytes as read go to `read`.
std::vector<PlannedWrite> PlanMakerMenu(QString& avocadmenu, const QString& pathSupport,
                                        const QString& tool, const QString& userDir,
                                        QList<std::pair<QString, QByteArray>>* read) {
    const QString installedBlock = BlockCopyFile(userDir, tool);
    // The copy of the block comes first: a menu file holding a block that no copy describes
    // could not be cleaned after the next update of "data\menu.txt".
    std::vector<PlannedWrite> writes(1);
    TextLines first = ReadMenuFile(avocadmenu, read);
    const QStringList menu_zelk = ReadMakerBlockForInstall(tool);
    QList<QStringList> blocks{menu_zelk};
    blocks += BlockCopies(userDir, tool);
    MakerLines maker(std::move(blocks));
    auto plan = [&](TextLines text, const QStringList& block) {
        const qsizetype read = text.lines.size();
        StripMaker(avocadmenu, text, maker);
        InsertEntries(text.lines);
        text.lines += block;
        writes.push_back({avocadmenu, std::move(text), read});
    };
    plan(std::move(first), menu_zelk);
    if (HasFollowUp(avocadmenu, pathSupport)) {
        avocadmenu = pathSupport + kFollowUpMenuName;
        plan(ReadMenuFile(avocadmenu, read), menu_zelk);
    }
    writes.front() = {installedBlock, TextLines{menu_zelk, TextEncoding::Utf8}};
    return writes;
}

}  // namespace

QString BlockCopyFile(const QString& userDir, const QString& tool) {
    if (userDir.isEmpty()) return ToolFile(tool, kInstalledBlockFile);
    QString dir = userDir;
    if (!dir.endsWith(u'/') && !dir.endsWith(u'\\')) dir += u'\\';
    return dir + QStringLiteral("menu_installed.txt");
}

QStringList MenuFilesEdited(const QString& avocadmenu, const QString& pathSupport) {
    QStringList files{avocadmenu};
    if (HasFollowUp(avocadmenu, pathSupport)) files << pathSupport + kFollowUpMenuName;
    return files;
}

bool MakerMenuInPlace(const QString& avocadmenu, const QString& pathSupport, const QString& tool,
                      const QString& userDir, QStringList* files) {
    try {
        QString at = avocadmenu;
        for (const PlannedWrite& w : PlanMakerMenu(at, pathSupport, tool, userDir, nullptr)) {
            if (!fs::FileExists(w.path) || fs::ReadAll(w.path) != EncodeText(w.text)) return false;
            if (files && w.linesRead >= 0) *files << w.path;
        }
        return true;
    } catch (const AppError&) {
        return false;
    }
}

StagedMenu::StagedMenu(QString& avocadmenu, const QString& pathSupport, const QString& tool,
                       const QString& userDir)
    : avocadmenu_(avocadmenu),
      support_(pathSupport),
      tool_(tool),
      userDir_(userDir),
      leftAt_(avocadmenu) {
    Stage();
}

StagedMenu::~StagedMenu() = default;

void StagedMenu::Stage() {
    QString at = avocadmenu_;
    QList<std::pair<QString, QByteArray>> read;
    const auto left = qScopeGuard([&] { leftAt_ = at; });
    const std::vector<PlannedWrite> writes = PlanMakerMenu(at, support_, tool_, userDir_, &read);
    staged_ = std::make_unique<fs::StagedFiles>(Encoded(writes));
    lines_ = CountLines(writes);
    read_ = read;
}

QString StagedMenu::Changed() const {
    for (const auto& [file, bytes] : read_) {
        try {
            if (fs::ReadAll(file) != bytes) return file;
        } catch (const AppError&) {
            return file;  // (gone, or held by another program: not what was read)
        }
    }
    return {};
}

void StagedMenu::Replace() {
    // Worked out again at most twice: a file that changes every time is being written by
    // someone else right now.
    for (int attempt = 0;; ++attempt) {
        const QString changed = Changed();
        if (changed.isEmpty()) break;
        if (attempt == 2)
            throw AppError(QStringLiteral("Файл меню \"%1\" изменялся во время установки "
                                          "(его сохраняет другая программа, например AutoCAD "
                                          "Electrical). Файлы меню не изменены; повторите "
                                          "установку")
                               .arg(fs::FullPath(changed)));
        Stage();
        staged_->Sync();
    }
    staged_->Replace();
}

QList<MenuFileLines> RemoveMakerMenu(AppState& st) {
    // (the temporaries an Install killed while it wrote the block's copy go too)
    fs::RemoveStagedLeftovers(kInstalledBlockFile);
    if (!st.userDir.isEmpty()) fs::RemoveStagedLeftovers(BlockCopyFile(st.userDir, {}));
    std::vector<PlannedWrite> writes;
    const auto plan = [&](TextLines text, MakerLines& maker) {
        const qsizetype read = text.lines.size();
        StripMaker(st.avocadmenu, text, maker);
        writes.push_back({st.avocadmenu, std::move(text), read});
    };
    TextLines clear_menu = ReadTextFile(st.avocadmenu);
    MakerLines maker(KnownBlocks(st.userDir));
    plan(std::move(clear_menu), maker);
    if (HasFollowUp(st.avocadmenu, st.path_support)) {
        st.avocadmenu = st.path_support + kFollowUpMenuName;
        plan(ReadTextFile(st.avocadmenu), maker);
    }
    fs::WriteAtomicTogether(Encoded(writes));
    return CountLines(writes);
}

}  // namespace deploy
