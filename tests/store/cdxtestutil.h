#pragma once

#include "store/cdxindex.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <random>
#include <set>
#include <utility>
#include <vector>

// Helpers shared by the compound index suites.
namespace cdxtest {

using Entry = std::pair<QByteArray, uint32_t>;
using Model = std::set<Entry>;

// A key of `length` bytes: a short random stem over a small alphabet (so that neighbours share
// prefixes and trailing blanks vary), blank-padded.
inline QByteArray randomKey(std::mt19937& rng, int length, int alphabet = 4)
{
    std::uniform_int_distribution<int> len(0, length);
    std::uniform_int_distribution<int> ch(0, alphabet - 1);
    const int n = length <= 12 ? len(rng) : std::uniform_int_distribution<int>(0, 6)(rng) == 0 ? length : len(rng);
    QByteArray k;
    for (int i = 0; i < n; ++i)
        k.append(char('A' + ch(rng)));
    k.append(QByteArray(length - k.size(), ' '));
    return k;
}

inline std::vector<Entry> walkForward(store::CdxTag& tag)
{
    std::vector<Entry> out;
    store::CdxEntry e;
    for (bool ok = tag.first(e); ok; ok = tag.next(e))
        out.emplace_back(e.key, e.recno);
    return out;
}

inline std::vector<Entry> walkBackward(store::CdxTag& tag)
{
    std::vector<Entry> out;
    store::CdxEntry e;
    for (bool ok = tag.last(e); ok; ok = tag.prior(e))
        out.emplace_back(e.key, e.recno);
    return out;
}

// Runs the Debian Perl XBase reader on one tag; returns "EXPR\t<expression>", "TAGS\t<names>" and
// then one "key\trecno" line per entry (trailing blanks and NULs of keys removed).
inline QStringList perlRead(const QString& file, const QByteArray& tag, QString* error)
{
    const QString script = QStringLiteral(
        "use strict; use XBase::Index;\n"
        "my $idx = XBase::Index->new($ARGV[0], 'tag' => $ARGV[1], 'type' => 'C')\n"
        "  or die 'open: ' . XBase::Index->errstr;\n"
        "print \"EXPR\\t$idx->{key_string}\\n\";\n"
        "print 'TAGS', \"\\t\", join(',', $idx->tags), \"\\n\";\n"
        "$idx->prepare_select;\n"
        "while (my ($k, $v) = $idx->fetch) { $k =~ s/[\\0 ]+$//; print \"$k\\t$v\\n\"; }\n");
    QProcess p;
    p.start(QStringLiteral("/usr/bin/perl"), {QStringLiteral("-e"), script, file, QString::fromLatin1(tag)});
    p.waitForFinished(60000);
    if (p.exitCode() != 0 || p.exitStatus() != QProcess::NormalExit) {
        *error = QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    return QString::fromLatin1(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline QString perlLine(const Entry& e)
{
    QByteArray k = e.first;
    while (k.endsWith(' ') || k.endsWith('\0'))
        k.chop(1);
    return QString::fromLatin1(k) + QLatin1Char('\t') + QString::number(e.second);
}

} // namespace cdxtest
