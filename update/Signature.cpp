#include "update/Signature.h"

#include <sodium.h>

#include <QDate>
#include <QFile>
#include <QFileDevice>
#include <QStringList>
#include <QTemporaryDir>
#include <optional>

#include "core/AppError.h"
#include "core/IniFile.h"

namespace update {

namespace {

// minisign's signature file is four short lines; anything much longer is not one.
constexpr qint64 kMaxSignatureBytes = 8 * 1024;
// A signature over the file itself (minisign's legacy form) needs the file whole in memory.
constexpr qint64 kMaxLegacyBytes = qint64(256) << 20;

const QString kSection = QStringLiteral("Update");
const QString kDateKey = QStringLiteral("date_global");

struct PublicKey {
    QByteArray id;   // 8 bytes
    QByteArray key;  // Ed25519, 32 bytes
};

struct Minisig {
    bool prehashed = false;  // "ED": over the file's BLAKE2b-512 hash; "Ed": over the file
    QByteArray id;
    QByteArray signature;  // 64 bytes
    QByteArray trustedComment;
    QByteArray globalSignature;  // over signature + trusted comment, 64 bytes
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
std::optional<Minisig> Parse(QByteArray text) {
    text.replace("\r\n", "\n");
    QList<QByteArray> lines = text.split('\n');
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    static const QByteArray kUntrusted = "untrusted comment: ", kTrusted = "trusted comment: ";
    if (lines.size() != 4 || !lines[0].startsWith(kUntrusted) || !lines[2].startsWith(kTrusted))
        return std::nullopt;
    const QByteArray sig = Base64(lines[1]);
    const QByteArray global = Base64(lines[3]);
    if (sig.size() != 2 + 8 + crypto_sign_BYTES || global.size() != crypto_sign_BYTES)
        return std::nullopt;
    Minisig m;
    if (sig.startsWith("ED"))
        m.prehashed = true;
    else if (!sig.startsWith("Ed"))
        return std::nullopt;
    m.id = sig.mid(2, 8);
    m.signature = sig.mid(10);
    m.trustedComment = lines[2].mid(kTrusted.size());
    m.globalSignature = global;
    return m;
}

bool VerifyDetached(const QByteArray& signature, const unsigned char* message, qint64 size,
                    const QByteArray& key) {
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                       message, static_cast<unsigned long long>(size),
                                       reinterpret_cast<const unsigned char*>(key.data())) == 0;
}

// Whether `sig` holds for the file's content. Reads the file from its current position.
bool HoldsFor(const Minisig& sig, QFileDevice& file, const PublicKey& key) {
    if (sig.prehashed) {
        crypto_generichash_state state;
        QByteArray hash(crypto_generichash_BYTES_MAX, '\0');
        auto* out = reinterpret_cast<unsigned char*>(hash.data());
        if (crypto_generichash_init(&state, nullptr, 0, size_t(hash.size())) != 0) return false;
        QByteArray buffer(256 * 1024, Qt::Uninitialized);
        for (;;) {
            const qint64 n = file.read(buffer.data(), buffer.size());
            if (n < 0) return false;
            if (n == 0) break;
            crypto_generichash_update(
                &state, reinterpret_cast<const unsigned char*>(buffer.constData()), size_t(n));
        }
        if (crypto_generichash_final(&state, out, size_t(hash.size())) != 0) return false;
        return VerifyDetached(sig.signature, out, hash.size(), key.key);
    }
    if (file.size() > kMaxLegacyBytes) return false;
    const QByteArray all = file.readAll();
    if (all.size() != file.size()) return false;
    return VerifyDetached(sig.signature, reinterpret_cast<const unsigned char*>(all.constData()),
                          all.size(), key.key);
}

// The release a trusted comment names: the value of its "date_global=" word.
std::optional<QString> TrustedDate(const QByteArray& trustedComment) {
    const QStringList words = QString::fromUtf8(trustedComment).split(u' ', Qt::SkipEmptyParts);
    for (const QString& word : words)
        if (word.startsWith(kDateKey + u'=')) return word.mid(kDateKey.size() + 1);
    return std::nullopt;
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
    const std::optional<Minisig> sig = Parse(text);
    if (!sig) Refuse(shown, QStringLiteral("файл подписи испорчен"));
    return *sig;
}

// Checks the received file against its signature: the maker's key, the file's content, the
// trusted comment; returns the release the trusted comment names.
std::optional<QString> Check(const Minisig& sig, QFileDevice& received, const QString& shown) {
    if (sodium_init() < 0) Refuse(shown, QStringLiteral("libsodium не запустился"));
    const PublicKey* key = BuiltInKey();
    if (!key) Refuse(shown, QStringLiteral("в программе неверный открытый ключ"));
    if (sig.id != key->id) Refuse(shown, QStringLiteral("подписан другим ключом"));
    if (!HoldsFor(sig, received, *key))
        Refuse(shown, QStringLiteral("подпись не сходится с содержимым файла"));
    const QByteArray signed_ = sig.signature + sig.trustedComment;
    if (!VerifyDetached(sig.globalSignature,
                        reinterpret_cast<const unsigned char*>(signed_.constData()), signed_.size(),
                        key->key))
        Refuse(shown, QStringLiteral("доверенный комментарий подписи изменён"));
    return TrustedDate(sig.trustedComment);
}

QString ReadDate(const QString& statusFile) {
    return IniFile(statusFile).ReadString(kSection, kDateKey);
}

QDate FixedDate(const QString& text) {
    return QDate::fromString(text, QStringLiteral("dd.MM.yyyy"));
}

}  // namespace

void GetSignedStatusFile(IdFtp& ftp, const QString& server, const QString& dest,
                         const QString& shown) {
    const Minisig sig = FetchSignature(ftp, server, shown);
    const TransferLimits limits{ftp.Settings().statusMaxBytes, -1};
    ftp.Get(server, dest, true, false, {}, limits, [&](QFileDevice& received) {
        const std::optional<QString> date = Check(sig, received, shown);
        const QString inside = ReadDate(received.fileName());
        if (!date || *date != inside)
            Refuse(
                shown,
                QStringLiteral("подпись выпуска %1, а в файле выпуск %2").arg(Shown(date), inside));
        const QString held = ReadDate(dest);
        if (FixedDate(held).isValid() && FixedDate(inside).isValid() &&
            FixedDate(inside) < FixedDate(held))
            Refuse(shown, QStringLiteral("выпуск %1 старше уже полученного %2").arg(inside, held));
    });
}

SignedFiles::SignedFiles(IdFtp& ftp, const QString& statusFile)
    : ftp_(ftp), release_(ReadDate(statusFile)) {}

void SignedFiles::Receive(const QString& server, PartFile& part, const QString& shown,
                          const IdFtp::Progress& progress, const TransferLimits& limits) {
    const Minisig sig = FetchSignature(ftp_, server, shown);
    ftp_.Receive(server, part, progress, limits);
    const std::optional<QString> date = Check(sig, part.Written(), shown);
    if (release_.isEmpty())
        Refuse(shown, QStringLiteral("выпуск не известен: в файле состояния нет даты"));
    if (!date || *date != release_)
        Refuse(
            shown,
            QStringLiteral("подпись выпуска %1, а ожидался выпуск %2").arg(Shown(date), release_));
    ++checked_;
}

}  // namespace update
