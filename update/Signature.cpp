#include "update/Signature.h"

#include <sodium.h>

#include <QDate>
#include <QFile>
#include <QFileDevice>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <optional>

#include "core/AppError.h"
#include "core/IniFile.h"
#include "update/Update.h"

namespace update {

namespace {

// minisign's signature file is four short lines; anything much longer is not one.
constexpr qint64 kMaxSignatureBytes = 8 * 1024;

const QString kSection = QStringLiteral("Update");
const QString kDateKey = QStringLiteral("date_global");
const QString kFileKey = QStringLiteral("file");
const QString kFilesSection = QStringLiteral("Files");
const QString kServerFolder = QStringLiteral("/autocad/");

struct PublicKey {
    QByteArray id;   // 8 bytes
    QByteArray key;  // Ed25519, 32 bytes
};

struct Minisig {
    QByteArray id;
    QByteArray signature;  // over the file's BLAKE2b-512 hash, 64 bytes
    QByteArray trustedComment;
    QByteArray globalSignature;  // over signature + trusted comment, 64 bytes
};

// What the trusted comment says.
struct Comment {
    std::optional<QString> date;  // the release
    std::optional<QString> file;  // the server path, without its leading "/"
};

// A file as the status file lists it.
struct Listed {
    qint64 size = -1;
    QByteArray hash;  // BLAKE2b-256, 32 bytes
};

// Why a file is refused: "подпись файла "NAME" не подтверждена: " + the reason.
[[noreturn]] void Refuse(const QString& shown, const QString& reason) {
    throw AppError(QStringLiteral("подпись файла \"%1\" не подтверждена: %2").arg(shown, reason));
}

QByteArray Base64(const QByteArray& text) {
    const auto decoded =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

// The key built into the tool: minisign's public key text ("RW..."), algorithm "Ed", key id
// and key.
const PublicKey* BuiltInKey() {
    static const std::optional<PublicKey> key = []() -> std::optional<PublicKey> {
        const QByteArray raw = Base64(QByteArrayLiteral(ZELK_UPDATE_PUBLIC_KEY).trimmed());
        if (raw.size() != 2 + 8 + crypto_sign_PUBLICKEYBYTES || !raw.startsWith("Ed"))
            return std::nullopt;
        return PublicKey{raw.mid(2, 8), raw.mid(10)};
    }();
    return key ? &*key : nullptr;
}

// "untrusted comment: ...", the signature line, "trusted comment: ...", the global signature.
// Only the prehashed form ("ED") is taken: the legacy form ("Ed", over the file itself) would
// need the whole file in memory, and minisign itself no longer makes it.
Minisig Parse(QByteArray text, const QString& shown) {
    text.replace("\r\n", "\n");
    QList<QByteArray> lines = text.split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    static const QByteArray kUntrusted = "untrusted comment: ", kTrusted = "trusted comment: ";
    const QString broken = QStringLiteral("файл подписи испорчен");
    if (lines.size() != 4 || !lines[0].startsWith(kUntrusted) || !lines[2].startsWith(kTrusted))
        Refuse(shown, broken);
    const QByteArray sig = Base64(lines[1]);
    const QByteArray global = Base64(lines[3]);
    if (sig.size() != 2 + 8 + crypto_sign_BYTES || global.size() != crypto_sign_BYTES)
        Refuse(shown, broken);
    if (sig.startsWith("Ed"))
        Refuse(shown, QStringLiteral("подпись в прежней форме minisign (без хеша) не принимается"));
    if (!sig.startsWith("ED")) Refuse(shown, broken);
    return Minisig{sig.mid(2, 8), sig.mid(10), lines[2].mid(kTrusted.size()), global};
}

bool VerifyDetached(const QByteArray& signature, const QByteArray& message, const QByteArray& key) {
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                       reinterpret_cast<const unsigned char*>(message.constData()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char*>(key.data())) == 0;
}

const PublicKey& Key(const QString& shown) {
    if (sodium_init() < 0) Refuse(shown, QStringLiteral("libsodium не запустился"));
    const PublicKey* key = BuiltInKey();
    if (!key) Refuse(shown, QStringLiteral("в программе неверный открытый ключ"));
    return *key;
}

// The words of a trusted comment, separated by blanks or tabs: "date_global=D file=PATH".
Comment ReadComment(const QByteArray& trustedComment) {
    QString text = QString::fromUtf8(trustedComment);
    text.replace(u'\t', u' ');
    Comment c;
    for (const QString& word : text.split(u' ', Qt::SkipEmptyParts)) {
        if (word.startsWith(kDateKey + u'=') && !c.date) c.date = word.mid(kDateKey.size() + 1);
        if (word.startsWith(kFileKey + u'=') && !c.file) c.file = word.mid(kFileKey.size() + 1);
    }
    return c;
}

QString Shown(const std::optional<QString>& date) {
    return date ? *date : QStringLiteral("без даты");
}

// Fetches the signature of `server` and parses it; refuses the file when there is none.
Minisig FetchSignature(IdFtp& ftp, const QString& server, const QString& shown) {
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("signature"));
    QByteArray text;
    try {
        if (!dir.isValid()) throw AppError(dir.errorString());
        ftp.Get(server + QStringLiteral(".minisig"), local, true, false, {},
                TransferLimits{kMaxSignatureBytes, -1});
        QFile file(local);
        if (!file.open(QIODevice::ReadOnly)) throw AppError(file.errorString());
        text = file.readAll();
    } catch (const AppError& e) {
        Refuse(shown, QStringLiteral("файл подписи не получен: ") + e.message());
    }
    return Parse(text, shown);
}

// What a signature says, checked before the file itself is fetched: the maker's key, the
// trusted comment as the maker wrote it, and the file it names, which must be the path the
// file is fetched from (a file of the release served under another name is refused). Returns
// the release the trusted comment names.
std::optional<QString> CheckComment(const Minisig& sig, const QString& server,
                                    const QString& shown) {
    const PublicKey& key = Key(shown);
    if (sig.id != key.id) Refuse(shown, QStringLiteral("подписан другим ключом"));
    if (!VerifyDetached(sig.globalSignature, sig.signature + sig.trustedComment, key.key))
        Refuse(shown, QStringLiteral("доверенный комментарий подписи изменён"));
    const Comment comment = ReadComment(sig.trustedComment);
    const QString path = server.startsWith(u'/') ? server.mid(1) : server;
    if (comment.file != path)
        Refuse(shown, QStringLiteral("подпись дана файлу %1, а получен %2")
                          .arg(comment.file ? *comment.file : QStringLiteral("без имени"), path));
    return comment.date;
}

// The received file's BLAKE2b-512 hash (what the signature covers) and BLAKE2b-256 hash (what
// the status file lists), in one reading from its current position.
struct Hashes {
    QByteArray prehash, listed;
    qint64 size = 0;
};
std::optional<Hashes> Hash(QFileDevice& file) {
    crypto_generichash_state prehash, listed;
    Hashes h{QByteArray(crypto_generichash_BYTES_MAX, '\0'),
             QByteArray(crypto_generichash_BYTES, '\0'), 0};
    if (crypto_generichash_init(&prehash, nullptr, 0, size_t(h.prehash.size())) != 0 ||
        crypto_generichash_init(&listed, nullptr, 0, size_t(h.listed.size())) != 0)
        return std::nullopt;
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.constData());
        crypto_generichash_update(&prehash, bytes, size_t(n));
        crypto_generichash_update(&listed, bytes, size_t(n));
        h.size += n;
    }
    if (crypto_generichash_final(&prehash, reinterpret_cast<unsigned char*>(h.prehash.data()),
                                 size_t(h.prehash.size())) != 0 ||
        crypto_generichash_final(&listed, reinterpret_cast<unsigned char*>(h.listed.data()),
                                 size_t(h.listed.size())) != 0)
        return std::nullopt;
    return h;
}

// Checks the received file's content against its signature; returns its hashes.
Hashes CheckContent(const Minisig& sig, QFileDevice& received, const QString& shown) {
    const std::optional<Hashes> h = Hash(received);
    if (!h || !VerifyDetached(sig.signature, h->prehash, Key(shown).key))
        Refuse(shown, QStringLiteral("подпись не сходится с содержимым файла"));
    return *h;
}

QString ReadDate(const QString& statusFile) {
    return IniFile(statusFile).ReadString(kSection, kDateKey);
}

// The entry of [Files] for `name` ("SIZE HASH", the hash in hexadecimal).
std::optional<Listed> ListedFile(const QString& statusFile, const QString& name) {
    const QStringList words = IniFile(statusFile)
                                  .ReadString(kFilesSection, name)
                                  .simplified()
                                  .split(u' ', Qt::SkipEmptyParts);
    if (words.size() != 2) return std::nullopt;
    Listed l;
    bool ok = false;
    l.size = words[0].toLongLong(&ok);
    const QByteArray hex = words[1].toLatin1();
    l.hash = QByteArray::fromHex(hex);
    if (!ok || l.size < 0 || hex.size() != 2 * crypto_generichash_BYTES ||
        l.hash.toHex() != hex.toLower())
        return std::nullopt;
    return l;
}

}  // namespace

void GetSignedStatusFile(IdFtp& ftp, const QString& server, const QString& dest,
                         const QString& shown) {
    const Minisig sig = FetchSignature(ftp, server, shown);
    const std::optional<QString> date = CheckComment(sig, server, shown);
    // The oldest release taken: the one held, or the one the tool was built for.
    const QString held = ReadDate(dest);
    const bool holds = ParseDayMonthYear(held).isValid();
    const QString floor = holds ? held : kBuiltRelease;
    const TransferLimits limits{ftp.Settings().statusMaxBytes, -1};
    ftp.Get(server, dest, true, false, {}, limits, [&](QFileDevice& received) {
        CheckContent(sig, received, shown);
        const QString inside = ReadDate(received.fileName());
        if (!date || *date != inside)
            Refuse(
                shown,
                QStringLiteral("подпись выпуска %1, а в файле выпуск %2").arg(Shown(date), inside));
        // A date that does not exist cannot be compared: such a release is never taken.
        const QDate released = ParseDayMonthYear(inside);
        if (!released.isValid())
            NotADate(inside);
        if (released < ParseDayMonthYear(floor))
            Refuse(shown, (holds ? QStringLiteral("выпуск %1 старше уже полученного %2")
                                 : QStringLiteral("выпуск %1 старше выпуска этой программы %2"))
                              .arg(inside, floor));
    });
}

SignedFiles::SignedFiles(IdFtp& ftp, const QString& statusFile)
    : ftp_(ftp), statusFile_(statusFile), release_(ReadDate(statusFile)) {}

void SignedFiles::Receive(const QString& server, PartFile& part, const QString& shown,
                          const IdFtp::Progress& progress) {
    if (release_.isEmpty())
        Refuse(shown, QStringLiteral("выпуск не известен: в файле состояния нет даты"));
    const QString name =
        server.startsWith(kServerFolder) ? server.mid(kServerFolder.size()) : server;
    const std::optional<Listed> listed = ListedFile(statusFile_, name);
    if (!listed)
        Refuse(
            shown,
            QStringLiteral("файл %1 не описан в файле состояния выпуска %2").arg(name, release_));

    const Minisig sig = FetchSignature(ftp_, server, shown);
    const std::optional<QString> date = CheckComment(sig, server, shown);
    if (!date || *date != release_)
        Refuse(
            shown,
            QStringLiteral("подпись выпуска %1, а ожидался выпуск %2").arg(Shown(date), release_));

    ftp_.Receive(server, part, progress, TransferLimits{listed->size, -1});
    const Hashes h = CheckContent(sig, part.Written(), shown);
    if (h.size != listed->size || h.listed != listed->hash)
        Refuse(shown, QStringLiteral("файл не совпадает с описанным в файле состояния выпуска %1")
                          .arg(release_));
}

}  // namespace update
