#pragma once

#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

namespace report {

// A font by family, point size and weight. The family falls back to the first of `fallbacks` the
// system has, so a report asking for a font the machine lacks keeps its metrics with a
// metric-compatible one.
struct FontSpec {
    QString family;
    double pointSize = 10;
    bool bold = false;
};

// A text placed in a band: `field` is the index of the record value shown, or -1 for `text`.
// Positions are millimetres from the band's top left corner. A wrapping field runs up to the band's
// right edge (or its width when one is given) and grows the band downward; another is as wide as
// its text. A centred field is centred in its width.
struct BandField {
    int field = -1;
    QString text;
    double leftMm = 0;
    double topMm = 0;
    double widthMm = 0; // 0: up to the band's right edge
    FontSpec font;
    bool wraps = false;
    bool centred = false;
};

struct Band {
    double heightMm = 0;
    QVector<BandField> fields;
};

// Page, margins, the bands and the grouping. Bands are as wide as the page between its margins.
struct ReportDefinition {
    QSizeF pageMm { 215.9, 279.4 };
    QMarginsF marginsMm { 12.7, 12.7, 12.7, 12.7 };
    Band title; // once, at the top of the first page (height 0: none)
    Band groupHeader; // before the first record and before each record whose group key differs
    Band detail; // once a record
    // The group key of a record; unset: no grouping.
    std::function<QString(const QStringList& record)> groupKey;
    // A report without records has no pages unless this is set.
    bool printWhenEmpty = false;
    // Texts printed on every page outside the bands, in the page's margins (a running header and
    // footer): `leftMm` from the band's left edge as in a band, `topMm` from the page's top edge. In
    // their text, pageNumberMark() and pageCountMark() stand for the page's number and the report's
    // page count, filled in when the page is painted.
    QVector<BandField> pageTexts;

    double bandWidthMm() const { return pageMm.width() - marginsMm.left() - marginsMm.right(); }
};

// The records a report walks, one at a time, first to last.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    // The next record's values, false after the last.
    virtual bool next(QStringList* record) = 0;
    // Where the record next() gave last is, for a layout that comes back to it later (a preview
    // lays a page out again from the record it starts with); -1 when the source cannot come back.
    virtual qint64 lastPosition() const { return -1; }
    // Starts the walk again: the next call to next() gives the first record. False when the source
    // cannot (a report that numbers its pages is then printed without its page count).
    virtual bool restart() { return false; }
    // Goes back to a place lastPosition() gave: the next call to next() gives that record again.
    // False when the source cannot, or the record is gone.
    virtual bool rewindTo(qint64 position)
    {
        Q_UNUSED(position);
        return false;
    }
};

// One text on a laid-out page: its box in millimetres from the page's top left corner.
struct PlacedText {
    QRectF boxMm;
    QString text;
    FontSpec font;
    bool centred = false;
    bool numbered = false; // a page text holding the page number or count marks
};

// The marks of a page text for the page's number and the report's page count.
inline QString pageNumberMark()
{
    return QStringLiteral("{page}");
}
inline QString pageCountMark()
{
    return QStringLiteral("{pages}");
}

// `text` with the marks filled in: page `number` of `count` pages (a count below 1 is not known yet
// and shows as an ellipsis).
inline QString numberedText(QString text, int number, int count)
{
    text.replace(pageNumberMark(), QString::number(number));
    return text.replace(pageCountMark(), count > 0 ? QString::number(count) : QStringLiteral("\u2026"));
}

struct LaidOutPage {
    QVector<PlacedText> texts;
};

} // namespace report
