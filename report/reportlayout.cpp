#include "report/reportlayout.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QTextLayout>

namespace report {

namespace {

// Text is measured at ten units a point (1/720 inch): large enough that the metrics are those of
// the outlines, and the same whatever the screen.
constexpr int kUnitsPerPoint = 10;
constexpr double kMmPerUnit = 25.4 / (72.0 * kUnitsPerPoint);

QString fontKey(const FontSpec& spec)
{
    return spec.family + u'|' + QString::number(spec.pointSize) + (spec.bold ? u'b' : u'r');
}

// Fonts and their metrics are looked up once a report: a page of a thousand texts asks for the same
// two or three. (Reports are laid out and painted on the GUI thread alone.)
struct MeasuringFont {
    QFont font;
    QFontMetricsF metrics;
};

const MeasuringFont& measuringFont(const FontSpec& spec)
{
    static QHash<QString, MeasuringFont*> cache;
    MeasuringFont*& entry = cache[fontKey(spec)];
    if (!entry) {
        QFont font = resolveFont(spec);
        font.setPixelSize(qMax(1, qRound(spec.pointSize * kUnitsPerPoint)));
        font.setHintingPreference(QFont::PreferNoHinting);
        entry = new MeasuringFont { font, QFontMetricsF(font) };
    }
    return *entry;
}

QFont findFont(const FontSpec& spec)
{
    QString family = spec.family;
    if (!QFontDatabase::hasFamily(family)) {
        const QStringList standIns = family.compare(QStringLiteral("Arial"), Qt::CaseInsensitive) == 0
            ? QStringList { QStringLiteral("Liberation Sans"), QStringLiteral("Arimo") }
            : QStringList();
        family = QString();
        for (const QString& standIn : standIns)
            if (QFontDatabase::hasFamily(standIn)) {
                family = standIn;
                break;
            }
    }
    QFont font;
    if (family.isEmpty())
        font.setStyleHint(QFont::SansSerif);
    else
        font.setFamily(family);
    font.setPointSizeF(spec.pointSize);
    font.setBold(spec.bold);
    return font;
}

} // namespace

QFont resolveFont(const FontSpec& spec)
{
    static QHash<QString, QFont> cache;
    const QString key = fontKey(spec);
    auto found = cache.constFind(key);
    if (found == cache.constEnd())
        found = cache.insert(key, findFont(spec));
    return *found;
}

ReportLayout::ReportLayout(const ReportDefinition& definition, RecordSource& source)
    : def_(definition)
    , source_(source)
{
}

ReportLayout::ReportLayout(const ReportDefinition& definition, RecordSource& source, const Resume& from)
    : def_(definition)
    , source_(source)
    , started_(true)
    , titleDone_(true)
    , lastKey_(from.lastKey)
{
    QStringList first;
    if (from.position >= 0 && source_.rewindTo(from.position) && source_.next(&first))
        pending_ = first;
    else
        finished_ = true;
}

std::optional<ReportLayout::Resume> ReportLayout::resumePoint() const
{
    // Between pages the record read last is the one the next page begins with.
    if (!started_ || finished_ || !pending_)
        return std::nullopt;
    const qint64 position = source_.lastPosition();
    if (position < 0)
        return std::nullopt;
    return Resume { position, lastKey_ };
}

QStringList ReportLayout::wrap(const QString& text, const FontSpec& font, double widthMm)
{
    const QFont& measured = measuringFont(font).font;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList lines;
    QString plain = text;
    plain.remove(u'\r');
    for (const QString& paragraph : plain.split(u'\n')) {
        QTextLayout layout(paragraph, measured);
        layout.setTextOption(option);
        layout.beginLayout();
        int before = lines.size();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(widthMm / kMmPerUnit);
            QString part = paragraph.mid(line.textStart(), line.textLength());
            while (part.endsWith(u' '))
                part.chop(1);
            lines << part;
        }
        layout.endLayout();
        if (lines.size() == before)
            lines << QString();
    }
    return lines;
}

double ReportLayout::textWidthMm(const QString& text, const FontSpec& font)
{
    return measuringFont(font).metrics.horizontalAdvance(text) * kMmPerUnit;
}

double ReportLayout::lineHeightMm(const FontSpec& font)
{
    return measuringFont(font).metrics.lineSpacing() * kMmPerUnit;
}

double ReportLayout::bandHeight(const Band& band, const QStringList& record, QVector<QStringList>* wrapped) const
{
    double height = band.heightMm;
    wrapped->resize(band.fields.size());
    for (int i = 0; i < band.fields.size(); ++i) {
        const BandField& field = band.fields.at(i);
        if (!field.wraps)
            continue;
        const QString text = field.field >= 0 ? record.value(field.field) : field.text;
        (*wrapped)[i] = wrap(text, field.font, wrapWidthMm(field));
        // Each further line adds its height; the space under the first line stays.
        height = qMax(height, band.heightMm + ((*wrapped)[i].size() - 1) * lineHeightMm(field.font));
    }
    return height;
}

double ReportLayout::wrapWidthMm(const BandField& field) const
{
    return field.widthMm > 0 ? field.widthMm : def_.bandWidthMm() - field.leftMm;
}

void ReportLayout::place(LaidOutPage& page, const Band& band, const QStringList& record, double topMm,
    const QVector<QStringList>& wrapped) const
{
    const double left = def_.marginsMm.left();
    for (int i = 0; i < band.fields.size(); ++i) {
        const BandField& field = band.fields.at(i);
        const QString text = field.field >= 0 ? record.value(field.field) : field.text;
        const double lineHeight = lineHeightMm(field.font);
        const double x = left + field.leftMm;
        const double y = topMm + field.topMm;
        if (field.wraps) {
            const double width = wrapWidthMm(field);
            const QStringList lines = i < wrapped.size() ? wrapped.at(i) : wrap(text, field.font, width);
            for (int line = 0; line < lines.size(); ++line)
                page.texts.append({ QRectF(x, y + line * lineHeight, width, lineHeight), lines.at(line), field.font, false });
        } else {
            const double width = field.widthMm > 0 ? field.widthMm : textWidthMm(text, field.font);
            page.texts.append({ QRectF(x, y, width, lineHeight), text, field.font, field.centred });
        }
    }
}

std::optional<LaidOutPage> ReportLayout::nextPage()
{
    if (finished_)
        return std::nullopt;
    if (!started_) {
        started_ = true;
        QStringList first;
        if (source_.next(&first))
            pending_ = first;
        else if (!def_.printWhenEmpty) {
            finished_ = true;
            return std::nullopt;
        }
    }

    LaidOutPage page;
    double y = def_.marginsMm.top();
    const double bottom = def_.pageMm.height() - def_.marginsMm.bottom();
    bool empty = true;
    if (!titleDone_) {
        titleDone_ = true;
        if (def_.title.heightMm > 0) {
            place(page, def_.title, {}, y, {});
            y += def_.title.heightMm;
            empty = false;
        }
    }
    while (pending_) {
        const QStringList& record = *pending_;
        const std::optional<QString> key = def_.groupKey ? std::optional<QString>(def_.groupKey(record)) : std::nullopt;
        const bool header = key && key != lastKey_;
        QVector<QStringList> wrapped;
        const double detailHeight = bandHeight(def_.detail, record, &wrapped);
        const double needed = detailHeight + (header ? def_.groupHeader.heightMm : 0);
        // A band that does not fit goes to the next page with its group header; on an empty page
        // it is placed whatever its height.
        if (!empty && y + needed > bottom)
            break;
        if (header) {
            place(page, def_.groupHeader, record, y, {});
            y += def_.groupHeader.heightMm;
        }
        place(page, def_.detail, record, y, wrapped);
        y += detailHeight;
        empty = false;
        lastKey_ = key;
        QStringList next;
        if (source_.next(&next))
            pending_ = next;
        else
            pending_.reset();
    }
    if (!pending_)
        finished_ = true;
    // The running header and footer, after the bands' texts.
    for (const BandField& field : def_.pageTexts) {
        const double width = field.widthMm > 0 ? field.widthMm : textWidthMm(field.text, field.font);
        const bool numbered = field.text.contains(pageNumberMark()) || field.text.contains(pageCountMark());
        page.texts.append(
            { QRectF(def_.marginsMm.left() + field.leftMm, field.topMm, width, lineHeightMm(field.font)),
                field.text, field.font, field.centred, numbered });
    }
    return page;
}

} // namespace report
