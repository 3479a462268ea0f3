#include "intake/sourceregistry.h"

#include "store/fieldnames.h"
#include "store/table.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <array>

namespace intake {

namespace {

namespace f = store::sources;

constexpr qsizetype kTokenBytes = 32;
constexpr qsizetype kSecretLength = 64; // SECRET: hex SHA-256
constexpr qsizetype kNameWidth = 20; // SOURCE
constexpr qsizetype kRecipientWidth = 40; // RECIPIENT

// Equal when every byte is: the same work whatever the bytes are. Both are kSecretLength long.
bool sameSecret(const QByteArray& a, const QByteArray& b)
{
    unsigned char difference = 0;
    for (qsizetype i = 0; i < kSecretLength; ++i)
        difference |= static_cast<unsigned char>(a.at(i) ^ b.at(i));
    return difference == 0;
}

// A SECRET as read, made exactly kSecretLength long (a blank or damaged field matches no hash).
QByteArray storedSecret(const QString& field)
{
    QByteArray secret = field.toLatin1().toLower().left(kSecretLength);
    secret.append(kSecretLength - secret.size(), '\0');
    return secret;
}

} // namespace

const QStringList& sourceKinds()
{
    static const QStringList kinds { QStringLiteral("SNPP"), QStringLiteral("HTTP"), QStringLiteral("SPOOL"),
        QStringLiteral("MAIL") };
    return kinds;
}

QByteArray newToken()
{
    std::array<quint32, kTokenBytes / sizeof(quint32)> words {};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), kTokenBytes);
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray secretOf(const QByteArray& token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
}

SourceRegistry::SourceRegistry(store::Table& table)
    : table_(table)
{
}

Source SourceRegistry::current() const
{
    Source source;
    source.name = table_.fieldText(f::Source);
    source.kind = table_.fieldText(f::Kind);
    source.recipient = table_.fieldText(f::Recipient);
    const int rate = table_.fieldInt(f::RateMin);
    source.rateMin = rate > 0 ? rate : 60;
    source.enabled = table_.fieldBool(f::Enabled);
    return source;
}

QList<Source> SourceRegistry::sources()
{
    QList<Source> all;
    table_.refresh();
    for (table_.first(); !table_.eof(); table_.next())
        all << current();
    return all;
}

bool SourceRegistry::locate(const QString& name)
{
    table_.refresh();
    for (table_.first(); !table_.eof(); table_.next()) {
        if (table_.fieldText(f::Source).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

std::optional<Source> SourceRegistry::find(const QString& name)
{
    if (!locate(name))
        return std::nullopt;
    return current();
}

QString SourceRegistry::refusal(const QString& name, const QString& kind, const QString& recipient)
{
    if (name.isEmpty() || name.size() > kNameWidth)
        return QStringLiteral("A source's name has 1 to %1 characters.").arg(kNameWidth);
    for (const QChar c : name) {
        if (c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f || c.unicode() > 0xff)
            return QStringLiteral("A source's name is one word of letters, digits and signs: \"%1\" is not.")
                .arg(name);
    }
    if (!sourceKinds().contains(kind.toUpper()))
        return QStringLiteral("A source's kind is one of %1, not \"%2\".").arg(sourceKinds().join(u' '), kind);
    if (recipient.isEmpty() || recipient.size() > kRecipientWidth)
        return QStringLiteral("A source needs a recipient of the directory (at most %1 characters).")
            .arg(kRecipientWidth);
    if (locate(name))
        return QStringLiteral("There is a source named %1 already.").arg(table_.fieldText(f::Source));
    return {};
}

QByteArray SourceRegistry::add(const QString& name, const QString& kind, const QString& recipient, QString* refusal)
{
    if (const QString refused = this->refusal(name, kind, recipient); !refused.isEmpty()) {
        if (refusal)
            *refusal = refused;
        return {};
    }
    const QByteArray token = newToken();
    table_.append();
    try {
        table_.setFieldText(f::Source, name);
        table_.setFieldText(f::Kind, kind.toUpper());
        table_.setFieldText(f::Secret, QString::fromLatin1(secretOf(token)));
        table_.setFieldText(f::Recipient, recipient);
        table_.setFieldInt(f::RateMin, 0);
        table_.setFieldBool(f::Enabled, true);
        table_.post();
    } catch (...) {
        table_.cancel();
        throw;
    }
    return token;
}

QByteArray SourceRegistry::setToken(const QString& name)
{
    if (!locate(name))
        return {};
    const QByteArray token = newToken();
    table_.edit();
    try {
        table_.setFieldText(f::Secret, QString::fromLatin1(secretOf(token)));
        table_.post();
    } catch (...) {
        table_.cancel();
        throw;
    }
    return token;
}

bool SourceRegistry::remove(const QString& name)
{
    if (!locate(name))
        return false;
    table_.deleteRecord();
    return true;
}

std::optional<Source> SourceRegistry::authenticate(const QString& name, const QByteArray& token)
{
    const QByteArray presented = secretOf(token);
    const bool given = !token.isEmpty();
    std::optional<Source> found;
    table_.refresh();
    for (table_.first(); !table_.eof(); table_.next()) {
        // Every row costs the same: its hash compared whole, its name and switch read.
        const bool secretMatches = sameSecret(storedSecret(table_.fieldText(f::Secret)), presented);
        const bool nameMatches = name.isEmpty() || table_.fieldText(f::Source).compare(name, Qt::CaseInsensitive) == 0;
        const bool enabled = table_.fieldBool(f::Enabled);
        if (given & secretMatches & nameMatches & enabled & !found.has_value())
            found = current();
    }
    return found;
}

} // namespace intake
