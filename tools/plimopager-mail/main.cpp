// plimopager-mail: one mail from standard input (an MTA's pipe transport) into the incoming/ folder
// of a desk's data folder, as a message file the desk pages at its next idle tick: RECIPIENT, a
// blank carrier line (the recipient's own carrier) and the mail's subject and first text lines.
// Exits as sysexits.h says: 0 written, 64 bad usage, 65 a mail with nothing to page, 75 (the MTA
// tries again later) when the file cannot be written.

#include "mailtext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

int fail(int status, const QString& text)
{
    std::fprintf(stderr, "plimopager-mail: %s\n", qPrintable(text));
    return status;
}

// Standard input up to the bound; the rest is read and dropped, so that the MTA's write never fails.
bool readMailInput(QByteArray* mail)
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return false;
    char chunk[65536];
    for (;;) {
        const qint64 got = in.read(chunk, sizeof chunk);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (mail->size() < mailtext::kMailReadLimit)
            mail->append(chunk, qsizetype(std::min<qint64>(got, mailtext::kMailReadLimit - mail->size())));
    }
}

// The recipient line: a mail address stands for its local part ("1001@pager.example.org" is pager
// ID 1001); a line break or another control character would break the file's lines.
QString recipientLine(const QString& given)
{
    QString recipient = given.trimmed();
    if (const qsizetype at = recipient.lastIndexOf(u'@'); at > 0 && !recipient.startsWith(u'"'))
        recipient = recipient.left(at);
    for (const QChar c : std::as_const(recipient)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return {};
    }
    return recipient;
}

// Makes the folder's entry durable (a renamed file's name).
bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// Writes `bytes` into `folder` under a new name that sorts after the files written before it: first
// under a hidden temporary name, synced, then renamed (never over another file). Returns the name,
// or an empty text with `error` set.
QString writeIncoming(const QString& folder, const QByteArray& bytes, QString* error)
{
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral("mail-%1-%2-%3").arg(stamp).arg(::getpid()).arg(attempt, 2, 10, QChar(u'0'));
        const QString temporary = folder + QStringLiteral("/.") + name + QStringLiteral(".tmp");
        QFile file(temporary);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(temporary))
                continue;
            *error = QStringLiteral("%1 cannot be written: %2").arg(temporary, file.errorString());
            return {};
        }
        const bool written = file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0;
        const QString writeError = file.errorString();
        file.close();
        if (!written) {
            QFile::remove(temporary);
            *error = QStringLiteral("%1 cannot be written: %2").arg(temporary, writeError);
            return {};
        }
        const QString final = folder + u'/' + name;
        if (QFile::exists(final) || !QFile::rename(temporary, final)) {
            QFile::remove(temporary);
            if (QFile::exists(final))
                continue;
            *error = QStringLiteral("%1 cannot be renamed to %2").arg(temporary, final);
            return {};
        }
        if (!syncFolder(folder)) {
            *error = QStringLiteral("%1 cannot be synced").arg(folder);
            return {};
        }
        return final;
    }
    *error = QStringLiteral("no free name in %1").arg(folder);
    return {};
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plimopager-mail"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads one mail from standard input and leaves its subject and first text lines as a page to "
        "RECIPIENT in DIR/incoming/, which the desk takes at its next idle tick. RECIPIENT is a user's "
        "name or pager ID, or \"Group: \" + a group's name; of a mail address the part before \"@\" is "
        "taken. Exits 0, 64 for bad usage, 65 for a mail with nothing to page, 75 when the file cannot "
        "be written (the mail system tries again)."));
    parser.addHelpOption();
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("The desk's data folder."), QStringLiteral("DIR"));
    parser.addOption(data);
    parser.addPositionalArgument(QStringLiteral("RECIPIENT"), QStringLiteral("Whom the page goes to."));
    if (!parser.parse(app.arguments()))
        return fail(EX_USAGE, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.isSet(data) || parser.positionalArguments().size() != 1)
        return fail(EX_USAGE, QStringLiteral("usage: plimopager-mail --data DIR RECIPIENT"));
    const QString recipient = recipientLine(parser.positionalArguments().constFirst());
    if (recipient.isEmpty())
        return fail(EX_USAGE, QStringLiteral("RECIPIENT is empty or holds a control character"));

    QByteArray mail;
    if (!readMailInput(&mail))
        return fail(EX_TEMPFAIL, QStringLiteral("the mail could not be read from standard input"));
    const QString message = mailtext::readMail(mail).message();
    if (message.isEmpty())
        return fail(EX_DATAERR, QStringLiteral("the mail has neither a subject nor a text/plain part to page"));

    // The data folder must be there (a mistyped one is not made); incoming/ is made when missing.
    const QString dataFolder = parser.value(data);
    if (!QFileInfo(dataFolder).isDir())
        return fail(EX_TEMPFAIL, QStringLiteral("%1 is not a folder").arg(dataFolder));
    const QString folder = QDir(dataFolder).absoluteFilePath(QStringLiteral("incoming"));
    struct stat st {};
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0 && !QDir().mkdir(folder))
        return fail(EX_TEMPFAIL, QStringLiteral("%1 cannot be made").arg(folder));
    if (::lstat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(EX_TEMPFAIL, QStringLiteral("%1 is not a folder").arg(folder));

    // UTF-8 after its byte-order mark; a blank carrier line: the recipient's own carrier.
    const QByteArray bytes = "\xEF\xBB\xBF" + recipient.toUtf8() + "\r\n\r\n" + message.toUtf8() + "\r\n";
    QString error;
    if (writeIncoming(folder, bytes, &error).isEmpty())
        return fail(EX_TEMPFAIL, error);
    return 0;
}
