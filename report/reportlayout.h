#pragma once

#include "report/reportdefinition.h"

#include <QFont>
#include <optional>

namespace report {

// The font a FontSpec asks for, or its metric-compatible stand-in when the machine lacks it
// (Arial: Liberation Sans, then Arimo, then the default sans serif).
QFont resolveFont(const FontSpec& spec);

// Turns a definition and a record source into positioned pages, one page when asked, reading only
// the records that page needs: a long report is laid out and painted page by page in little memory.
// Text is measured with the fonts' own metrics in millimetres, the same on every device.
class ReportLayout {
public:
    // Where a page after the first begins: the source's place of its first record and the group
    // key of the record before it (a group header is placed when they differ).
    struct Resume {
        qint64 position = -1;
        std::optional<QString> lastKey;
    };

    ReportLayout(const ReportDefinition& definition, RecordSource& source);
    // A layout that goes on at `from` as if the pages before it had been laid out: its first page
    // is the page that begins there. It has no page when the source cannot go back there.
    ReportLayout(const ReportDefinition& definition, RecordSource& source, const Resume& from);

    // The next page, or nothing after the last. A report without records has no page (unless the
    // definition prints when empty).
    std::optional<LaidOutPage> nextPage();
    // The last page has been given: nextPage() gives no more.
    bool atEnd() const { return finished_; }
    // Where the page nextPage() gives next begins, for laying it out again later. Nothing before
    // the first page (it begins with the report), after the last, and when the source cannot come
    // back to a record.
    std::optional<Resume> resumePoint() const;

    // The lines `text` takes in `font` within `widthMm` (line breaks kept, long words broken).
    static QStringList wrap(const QString& text, const FontSpec& font, double widthMm);
    // The width of `text` in `font`, in millimetres.
    static double textWidthMm(const QString& text, const FontSpec& font);
    // The height of one line of `font`, in millimetres.
    static double lineHeightMm(const FontSpec& font);

private:
    // The height `band` takes for `record`; `wrapped` gets each wrapping field's lines (by field).
    double bandHeight(const Band& band, const QStringList& record, QVector<QStringList>* wrapped) const;
    double wrapWidthMm(const BandField& field) const;
    // Places `band` for `record` at `topMm` on `page`, with the lines bandHeight() wrapped (a
    // wrapping field missing from `wrapped` is wrapped here).
    void place(LaidOutPage& page, const Band& band, const QStringList& record, double topMm,
        const QVector<QStringList>& wrapped) const;

    const ReportDefinition& def_;
    RecordSource& source_;
    std::optional<QStringList> pending_; // read but not yet placed
    bool started_ = false;
    bool finished_ = false;
    bool titleDone_ = false;
    bool headerDone_ = false; // the group header of pending_ is placed
    std::optional<QString> lastKey_;
};

} // namespace report
