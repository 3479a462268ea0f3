#include "directories/pagercompform.h"

#include "compose/pageforms.h"
#include "core/carrierpaths.h"
#include "core/desk.h"
#include "directories/celldelegate.h"
#include "models/tablemodel.h"
#include "paging/pathtest.h"
#include "store/fieldnames.h"
#include "store/table.h"

#include <QAction>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>

#include <functional>

namespace directories {

namespace {

const QStringList kMethods
    = { QStringLiteral("MODEM"), QStringLiteral("TAPIP"), QStringLiteral("SNPP"), QStringLiteral("WCTP") };

// The paths grid's cell editors: the method chosen from the four, the password typed unseen and
// shown as dots, the page size in digits, every text cut to its field's width. `written` hears of
// every value the operator writes (an editor committed, a box ticked).
class PathDelegate : public CellDelegate {
public:
    using CellDelegate::CellDelegate;
    std::function<void(const QModelIndex&)> written;

    QWidget* createEditor(
        QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const override
    {
        if (index.column() == TPagerCompForm::MethodColumn) {
            auto* combo = new QComboBox(parent);
            combo->addItems(kMethods);
            // A method picked from the list is written at once.
            connect(combo, &QComboBox::activated, this,
                [this, combo] { emit const_cast<PathDelegate*>(this)->commitData(combo); });
            return combo;
        }
        auto* edit = new QLineEdit(parent);
        edit->setFrame(false);
        switch (index.column()) {
        case TPagerCompForm::AddressColumn:
            edit->setMaxLength(120);
            break;
        case TPagerCompForm::PasswordColumn:
            edit->setEchoMode(QLineEdit::Password);
            edit->setMaxLength(40);
            break;
        case TPagerCompForm::MaxCharsColumn:
            edit->setValidator(new QIntValidator(0, 99999, edit));
            break;
        default:
            edit->setMaxLength(40);
        }
        return edit;
    }
    void setEditorData(QWidget* editor, const QModelIndex& index) const override
    {
        auto* combo = qobject_cast<QComboBox*>(editor);
        if (!combo)
            return CellDelegate::setEditorData(editor, index);
        // Any letter case, as the paths are read; a word another program wrote stays in the list, so
        // that opening the cell never changes it.
        const QString stored = index.data(Qt::EditRole).toString().trimmed();
        int at = combo->findText(stored, Qt::MatchFixedString);
        if (at < 0 && !stored.isEmpty()) {
            combo->insertItem(0, stored);
            at = 0;
        }
        combo->setCurrentIndex(qMax(0, at));
    }
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override
    {
        CellDelegate::setModelData(editor, model, index);
        if (written)
            written(index);
    }
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
        const QModelIndex& index) override
    {
        const bool ticked = CellDelegate::editorEvent(event, model, option, index)
            && (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyPress);
        if (ticked && written)
            written(index);
        return ticked;
    }
};

// What an address of the method looks like, for the message about one that does not parse.
QString addressHint(const QString& method)
{
    switch (paging::pathMethod(method)) {
    case paging::PathMethod::TapIp:
    case paging::PathMethod::Snpp:
        return QStringLiteral("The address of a %1 path is host:port, for example paging.example.net:444.")
            .arg(method.trimmed());
    case paging::PathMethod::Wctp:
        return QStringLiteral("The address of a WCTP path is an http:// or https:// URL, for example "
                              "https://wctp.example.net/wctp.");
    case paging::PathMethod::Modem:
        return QString();
    case paging::PathMethod::Invalid:
        break;
    }
    return QStringLiteral("The method is one of MODEM, TAPIP, SNPP and WCTP.");
}

} // namespace

TPagerCompForm::TPagerCompForm(core::Desk& desk, QWidget* parent)
    : DirectoryForm(QStringLiteral("Paging Carriers Information"), QStringLiteral("PagerCompany"), parent)
    , desk_(desk)
    , PagerCompT(desk.PagerCompT())
    , CarrPathT(desk.CarrPathT())
{
    setObjectName(QStringLiteral("PagerCompForm"));

    CarriersModel = new TableModel(PagerCompT,
        { store::pagecomp::PagerComp, store::pagecomp::HostTel, store::pagecomp::HostSpeed,
            store::pagecomp::HostChars, store::pagecomp::HostPassword },
        this);
    // Headed in the words of the fields' labels.
    CarriersModel->setColumnTitles(
        { QStringLiteral("Paging Carrier Name"), QStringLiteral("Host Tel. Number"),
            QStringLiteral("Host Speed"), QStringLiteral("Max # characters"), QStringLiteral("Password") });
    CarriersList = recordGrid(
        CarriersModel, QStringLiteral("CarriersList"), QStringLiteral("Paging Carrier Name:"), this);
    CarriersList->setColumnWidth(0, qMax(160, CarriersList->columnWidth(0)));
    // The terminal's password shows as dots, as in its field.
    auto* carrierDelegate = new CellDelegate(CarriersList);
    carrierDelegate->setSecretColumn(4);
    CarriersList->setItemDelegate(carrierDelegate);

    auto lineEdit = [this](const QString& name, int width) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setMaxLength(width);
        return edit;
    };
    HostTel = lineEdit(QStringLiteral("HostTel"), 14);
    HostSpeed = lineEdit(QStringLiteral("HostSpeed"), 5);
    HostChars = lineEdit(QStringLiteral("HostChars"), 3);
    HostChars->setValidator(new QIntValidator(0, 999, HostChars)); // a whole number only
    HostPassw = lineEdit(QStringLiteral("HostPassw"), 10);
    // Dots, but while it is being typed.
    HostPassw->setEchoMode(QLineEdit::PasswordEchoOnEdit);

    createRecordButtons();

    {
        using namespace store::carrpath;
        PathsModel = new TableModel(
            CarrPathT, { PathNo, Enabled, Method, Address, Login, Password, MaxChars }, this);
    }
    const QStringList pathTitles
        = { QStringLiteral("No."), QStringLiteral("On"), QStringLiteral("Method"), QStringLiteral("Address"),
              QStringLiteral("Login"), QStringLiteral("Password"), QStringLiteral("Max chars") };
    PathsModel->setColumnTitles(pathTitles);
    PathsModel->setColumnReadOnly(PathNoColumn); // the order of trial: Move up and Move down
    PathsModel->setColumnCheckable(EnabledColumn);
    PathsList = recordGrid(PathsModel, QStringLiteral("PathsList"), QStringLiteral("Delivery paths"), this);
    auto* pathDelegate = new PathDelegate(PathsList);
    pathDelegate->setSecretColumn(PasswordColumn);
    pathDelegate->written = [this](const QModelIndex& index) { checkWrittenPath(index.row()); };
    PathsList->setItemDelegate(pathDelegate);
    // Every column as wide as its title or the text it usually holds; the address takes the rest.
    const QFontMetrics metrics = PathsList->fontMetrics();
    for (const auto& [column, usual] : { std::pair { PathNoColumn, "00" }, { EnabledColumn, "" },
             { MethodColumn, "MODEM \u25BE" }, { LoginColumn, "operator" },
             { PasswordColumn, "\u25CF\u25CF\u25CF\u25CF\u25CF\u25CF" }, { MaxCharsColumn, "" } }) {
        const int title = metrics.horizontalAdvance(pathTitles.at(column));
        PathsList->setColumnWidth(
            column, qMax(title, metrics.horizontalAdvance(QString::fromUtf8(usual))) + 20);
    }
    PathsList->horizontalHeader()->setSectionResizeMode(AddressColumn, QHeaderView::Stretch);

    AddPathBtn = namedButton(QStringLiteral("AddPathBtn"), QStringLiteral("Add &path"), this);
    RemovePathBtn = namedButton(QStringLiteral("RemovePathBtn"), QStringLiteral("Remo&ve path"), this);
    MoveUpBtn = namedButton(QStringLiteral("MoveUpBtn"), QStringLiteral("Move &up"), this);
    MoveDownBtn = namedButton(QStringLiteral("MoveDownBtn"), QStringLiteral("Move do&wn"), this);
    TestPathBtn = namedButton(QStringLiteral("TestPathBtn"), QStringLiteral("Test co&nnection"), this);
    TestPathBtn->setToolTip(
        QStringLiteral("Connect and log in on the path, send no page, and show the answer"));
    PathTestAnswer = new QPlainTextEdit(this);
    PathTestAnswer->setObjectName(QStringLiteral("PathTestAnswer"));
    PathTestAnswer->setAccessibleName(QStringLiteral("Path test answer"));
    PathTestAnswer->setReadOnly(true);
    PathTestAnswer->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    PathTestAnswer->setPlaceholderText(
        QStringLiteral("Test connection tries the current path without sending a page; what the other side "
                       "answers shows here."));
    PathTestAnswer->setFixedHeight(PathTestAnswer->fontMetrics().lineSpacing() * 8 + 12);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(MainMenu);
    layout->addWidget(new QLabel(QStringLiteral("Paging Carrier Name:"), this));
    layout->addWidget(CarriersList, 1);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Host Tel. Number:"), HostTel);
    form->addRow(QStringLiteral("Host Speed:"), HostSpeed);
    form->addRow(QStringLiteral("Max # characters:"), HostChars);
    form->addRow(QStringLiteral("Password:"), HostPassw);
    auto* middle = new QHBoxLayout;
    middle->addLayout(form, 1);
    auto* exits = new QVBoxLayout;
    exits->addStretch();
    exits->addWidget(SaveBtn);
    exits->addWidget(ExitBtn);
    middle->addLayout(exits);
    layout->addLayout(middle);
    layout->addLayout(recordButtonGrid({ { QStringLiteral("First    Prev   Next   Last"), 4 }, { editCaption(), 4 } }));

    auto* paths = new QGroupBox(QStringLiteral("Delivery paths, tried in order"), this);
    auto* pathsLayout = new QGridLayout(paths);
    pathsLayout->addWidget(PathsList, 0, 0);
    auto* pathButtons = new QVBoxLayout;
    for (QPushButton* b : { AddPathBtn, RemovePathBtn, MoveUpBtn, MoveDownBtn })
        pathButtons->addWidget(b);
    pathButtons->addStretch();
    pathButtons->addWidget(TestPathBtn);
    pathsLayout->addLayout(pathButtons, 0, 1);
    pathsLayout->addWidget(PathTestAnswer, 1, 0, 1, 2);
    pathsLayout->setRowStretch(0, 1);
    layout->addWidget(paths, 2);

    setTabOrder(CarriersList, HostTel);
    setTabOrder(HostTel, HostSpeed);
    setTabOrder(HostSpeed, HostChars);
    setTabOrder(HostChars, HostPassw);
    setTabOrder(HostPassw, PathsList);
    setTabOrder(PathsList, AddPathBtn);
    setTabOrder(AddPathBtn, RemovePathBtn);
    setTabOrder(RemovePathBtn, MoveUpBtn);
    setTabOrder(MoveUpBtn, MoveDownBtn);
    setTabOrder(MoveDownBtn, TestPathBtn);
    setTabOrder(TestPathBtn, SaveBtn);
    setTabOrder(SaveBtn, ExitBtn);
    for (QWidget* field : { static_cast<QWidget*>(CarriersList), static_cast<QWidget*>(HostTel),
             static_cast<QWidget*>(HostSpeed), static_cast<QWidget*>(HostChars),
             static_cast<QWidget*>(HostPassw) })
        enterMovesOn(field);
    // A path is typed cell after cell: Tab goes on to the path's next cell, Enter writes the cell
    // and stays.
    enterMovesOn(PathsList, CellEnter::Stays);
    tabMovesCellToCell(PathsList);
    resize(800, 720);

    bindField(HostTel, store::pagecomp::HostTel);
    bindField(HostSpeed, store::pagecomp::HostSpeed);
    bindField(HostChars, store::pagecomp::HostChars);
    bindField(HostPassw, store::pagecomp::HostPassword);

    connect(CarriersModel, &TableModel::currentRowChanged, this, &TPagerCompForm::scheduleSync);
    connect(CarriersList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showing_ && current.isValid())
                guarded([&] { CarriersModel->moveToRow(current.row()); });
        });
    connect(&PagerCompT, &store::Table::recordChanged, this, &TPagerCompForm::scheduleSync);
    connect(&PagerCompT, &store::Table::positionChanged, this, &TPagerCompForm::scheduleSync);

    connect(&PagerCompT, &store::Table::stateChanged, this, &TPagerCompForm::carrierStateChanged);

    connectRecordCommands(PagerCompT, CarriersList);

    // The grid's current row is the paths handle's current record, both ways.
    connect(PathsModel, &TableModel::storeError, this, &TPagerCompForm::errorReported, Qt::QueuedConnection);
    connect(PathsModel, &TableModel::currentRowChanged, this, [this](int row) {
        const QScopedValueRollback showing(showingPath_, true);
        const int column = qMax(0, PathsList->currentIndex().column());
        PathsList->setCurrentIndex(row >= 0 ? PathsModel->index(row, column) : QModelIndex());
        updatePathButtons();
    });
    connect(PathsList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        [this](const QModelIndex& current) {
            if (!showingPath_ && current.isValid())
                guarded([&] { PathsModel->moveToRow(current.row()); });
            updatePathButtons();
        });
    connect(PathsModel, &QAbstractItemModel::modelReset, this, &TPagerCompForm::updatePathButtons);
    connect(AddPathBtn, &QPushButton::clicked, this, &TPagerCompForm::AddPathClick);
    connect(RemovePathBtn, &QPushButton::clicked, this, &TPagerCompForm::RemovePathClick);
    connect(MoveUpBtn, &QPushButton::clicked, this, [this] { MovePathClick(-1); });
    connect(MoveDownBtn, &QPushButton::clicked, this, [this] { MovePathClick(+1); });
    connect(TestPathBtn, &QPushButton::clicked, this, &TPagerCompForm::TestPathClick);
    syncView();
}

TPagerCompForm::~TPagerCompForm()
{
    // A test under way ends at once when cancelled; its thread is not left behind the window.
    if (testThread_) {
        testCancel_->cancel();
        testThread_->wait(5000);
    }
}

QString TPagerCompForm::storedName() const
{
    return editing_ ? editedFrom_ : PagerCompT.fieldText(store::pagecomp::PagerComp);
}

// An edit begins on the stored record, so the name is read then; when it ends the record shows
// what was written (or, cancelled, what was there), and a changed name takes the paths along.
// However the edit ends (Save, a move, Enter in the grid, a refresh by another window), it ends
// here.
void TPagerCompForm::carrierStateChanged()
{
    const store::Table::State state = PagerCompT.state();
    if (state == store::Table::State::Edit) {
        editedFrom_ = PagerCompT.fieldText(store::pagecomp::PagerComp);
        editing_ = true;
        return;
    }
    if (!editing_ || state != store::Table::State::Browse)
        return;
    editing_ = false;
    const QString now = PagerCompT.fieldText(store::pagecomp::PagerComp);
    if (now != editedFrom_)
        guarded([&] { core::renameCarrierPaths(desk_, editedFrom_, now); });
}

void TPagerCompForm::aboutToDelete()
{
    // A new record not yet written has no paths, even when it repeats a carrier's name.
    deletingStored_ = PagerCompT.state() != store::Table::State::Insert && PagerCompT.recNo() != 0;
    deleting_ = deletingStored_ ? storedName() : QString();
}

void TPagerCompForm::recordDeleted()
{
    if (deletingStored_)
        core::deleteCarrierPaths(desk_, deleting_);
    deletingStored_ = false;
}

void TPagerCompForm::syncView()
{
    const int row = CarriersModel->currentRow();
    {
        const QScopedValueRollback showing(showing_, true);
        const int column = qMax(0, CarriersList->currentIndex().column());
        CarriersList->setCurrentIndex(row >= 0 ? CarriersModel->index(row, column) : QModelIndex());
    }
    showBoundFields();
    showPaths();
}

// The grid shows the paths of the carrier as stored: while its name is being changed, those of the
// name it had (they go with it when the change is written); a new carrier has none yet.
void TPagerCompForm::showPaths()
{
    const bool stored
        = PagerCompT.isOpen() && PagerCompT.recNo() != 0 && PagerCompT.state() != store::Table::State::Insert;
    if (stored) {
        const auto [from, to] = TableModel::keyRange(core::carrierKey(storedName()));
        PathsModel->setKeyRange(from, to);
    } else {
        const QByteArray none = core::carrierKey(QString());
        PathsModel->setKeyRange(none, none); // no rows
    }
    updatePathButtons();
}

int TPagerCompForm::pathRow() const
{
    const int row = PathsList->currentIndex().row();
    return row >= 0 && row < PathsModel->rowCount() ? row : -1;
}

QString TPagerCompForm::pathCell(int row, int column) const
{
    return PathsModel->index(row, column).data(Qt::EditRole).toString();
}

paging::DeliveryPath TPagerCompForm::pathAt(int row) const
{
    return { pathCell(row, MethodColumn), pathCell(row, AddressColumn), pathCell(row, LoginColumn),
        pathCell(row, PasswordColumn), pathCell(row, MaxCharsColumn).toInt(), pathCell(row, PathNoColumn) };
}

void TPagerCompForm::updatePathButtons()
{
    const int row = pathRow();
    const bool carrier = PagerCompT.isOpen()
        && (PagerCompT.recNo() != 0 || PagerCompT.state() == store::Table::State::Insert);
    AddPathBtn->setEnabled(carrier);
    RemovePathBtn->setEnabled(row >= 0);
    MoveUpBtn->setEnabled(row > 0);
    MoveDownBtn->setEnabled(row >= 0 && row + 1 < PathsModel->rowCount());
    TestPathBtn->setEnabled(row >= 0 && !pathTestRunning());
}

void TPagerCompForm::AddPathClick()
{
    directories::commitOpenEditor(PathsList);
    bool added = false;
    guarded([&] {
        if (PagerCompT.state() == store::Table::State::Insert)
            PagerCompT.post(); // a path belongs to a carrier that is written
        if (core::addCarrierPath(desk_, storedName()).isEmpty())
            emit errorReported(
                QStringLiteral("A carrier has at most %1 delivery paths.").arg(core::kMaxPaths));
        else
            added = true;
    });
    if (!added)
        return;
    // The operator goes on with the new path's method.
    PathsList->setFocus();
    PathsList->setCurrentIndex(PathsModel->index(PathsModel->currentRow(), MethodColumn));
}

void TPagerCompForm::RemovePathClick()
{
    directories::commitOpenEditor(PathsList);
    const int row = pathRow();
    if (row < 0)
        return;
    const QString pathNo = pathCell(row, PathNoColumn);
    const paging::DeliveryPath path = pathAt(row);
    QMessageBox box(QMessageBox::Question, windowTitle(),
        QStringLiteral("Remove delivery path %1 (%2)?").arg(pathNo, paging::describe(path)),
        QMessageBox::Yes | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("RemovePathBox"));
    if (box.exec() != QMessageBox::Yes)
        return;
    guarded([&] { core::deleteCarrierPath(desk_, storedName(), pathNo); });
}

void TPagerCompForm::MovePathClick(int steps)
{
    directories::commitOpenEditor(PathsList);
    const int row = pathRow();
    if (row < 0)
        return;
    guarded([&] { core::moveCarrierPath(desk_, storedName(), pathCell(row, PathNoColumn), steps); });
}

void TPagerCompForm::checkWrittenPath(int row)
{
    const paging::DeliveryPath path = pathAt(row);
    const bool enabled
        = PathsModel->index(row, EnabledColumn).data(Qt::CheckStateRole).toInt() == Qt::Checked;
    QString why;
    if ((!enabled && path.address.trimmed().isEmpty()) || paging::checkPath(path, &why))
        return;
    const QString text = QStringLiteral("Delivery path %1: %2.\n%3")
                             .arg(pathCell(row, PathNoColumn), why, addressHint(path.method))
                             .trimmed();
    // Said once the cell editor has closed: a box opened inside its commit would take its focus. A
    // value written twice on its way (a method picked, then Enter) is said once.
    if (text == warningDue_)
        return;
    warningDue_ = text;
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            QMessageBox::warning(this, windowTitle(), text);
            warningDue_.clear();
        },
        Qt::QueuedConnection);
}

void TPagerCompForm::TestPathClick()
{
    directories::commitOpenEditor(PathsList);
    const int row = pathRow();
    if (row < 0 || pathTestRunning())
        return;
    const paging::DeliveryPath path = pathAt(row);
    const paging::ModemPort modem { desk_.Settings().comPort(),
        compose::carrierBaudRate(PagerCompT.fieldText(store::pagecomp::HostSpeed)).toInt() };
    const QString title = QStringLiteral("Path %1 of %2, %3")
                              .arg(pathCell(row, PathNoColumn), storedName(), paging::describe(path));
    const paging::ProtocolTimings timings = paging::protocolTimings();
    auto cancel = std::make_shared<paging::PathTestCancel>();
    auto result = std::make_shared<paging::PathTestResult>();
    // The test waits on the network or the port for up to the protocol's limits: not on this thread.
    QThread* worker = QThread::create([path, modem, timings, cancel, result] {
        *result = paging::testPath(path, modem, timings, cancel->fd());
    });
    connect(worker, &QThread::finished, this, [this, title, result] {
        testThread_ = nullptr; // it goes with deleteLater
        testCancel_.reset();
        PathTestAnswer->setPlainText(title + u'\n' + result->answer);
        updatePathButtons();
        emit pathTestFinished();
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    testThread_ = worker;
    testCancel_ = cancel;
    PathTestAnswer->setPlainText(title + QStringLiteral("\nTesting..."));
    updatePathButtons();
    worker->start();
}

void TPagerCompForm::closeEvent(QCloseEvent* event)
{
    directories::commitOpenEditor(PathsList);
    // Nobody is left to read the answer: the test ends now, sending nothing.
    if (testCancel_)
        testCancel_->cancel();
    DirectoryForm::closeEvent(event);
}

void TPagerCompForm::FormActivate()
{
    PagerCompT.refresh();
    CarrPathT.refresh();
    PagerCompT.first();
}

} // namespace directories

#include "moc_pagercompform.cpp"
