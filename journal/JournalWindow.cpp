#include "journal/JournalWindow.h"

#include "data/Errors.h"
#include "data/Location.h"
#include "data/pg/Pg.h"
#include "journal/JournalLocation.h"
#include "journal/QuestionsModel.h"
#include "journal/RunsModel.h"
#include "reports/JournalExport.h"
#include "reports/JournalReport.h"
#include "toolkit/MessageBox.h"

#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <climits>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace journal {

using data::journal::JournalReader;
using data::journal::RunFilter;

namespace {

// Which file a path names now: a journal copied over the open one is another file.
QByteArray fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino));
}

QString escaped(const QString& text) {
    return text.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>"));
}

QTableView* makeTable(QWidget* parent, const char* name) {
    auto* view = new QTableView(parent);
    view->setObjectName(QLatin1String(name));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAlternatingRowColors(true);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 8);
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setHighlightSections(false);
    return view;
}

QLabel* buddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

QString answersHtml(const std::vector<data::journal::Answer>& answers) {
    QString html;
    int number = 0;
    for (const data::journal::Answer& answer : answers) {
        ++number;
        const bool right = answer.optionRight() && answer.explanationRight();
        html += QStringLiteral("<p><b>%1. %2</b> <span style=\"color:%3\">%4</span></p>")
                    .arg(number)
                    .arg(escaped(answer.question),
                         right ? QStringLiteral("#1e7a2e") : QStringLiteral("#b00020"),
                         right ? QStringLiteral("— верно") : QStringLiteral("— есть ошибка"));
        for (const auto& [title, choices, chosen] :
             {std::tuple{QStringLiteral("Ответ"), &answer.options, answer.chosenOption},
              std::tuple{QStringLiteral("Объяснение"), &answer.explanations,
                         answer.chosenExplanation}}) {
            html += QStringLiteral("<table cellpadding=\"2\" style=\"margin-left:16px\">"
                                   "<tr><td colspan=\"3\"><i>%1</i></td></tr>")
                        .arg(title);
            for (size_t i = 0; i < choices->size(); ++i) {
                const auto& choice = (*choices)[i];
                const bool picked = int(i) + 1 == chosen;
                QString mark;
                if (picked)
                    mark =
                        choice.correct
                            ? QStringLiteral("<span style=\"color:#1e7a2e\">✔ выбран, верно</span>")
                            : QStringLiteral(
                                  "<span style=\"color:#b00020\">✘ выбран, неверно</span>");
                else if (choice.correct)
                    mark = QStringLiteral("<span style=\"color:#1e7a2e\">верный</span>");
                const QString text = escaped(choice.text);
                html += QStringLiteral("<tr><td>%1.</td><td>%2</td><td>%3</td></tr>")
                            .arg(i + 1)
                            .arg(picked || choice.correct ? QStringLiteral("<b>%1</b>").arg(text)
                                                          : text,
                                 mark);
            }
            html += QStringLiteral("</table>");
        }
    }
    return html;
}

JournalWindow::JournalWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("JournalWindow"));
    setWindowTitle(QStringLiteral("Журнал результатов"));
    setWindowIcon(QIcon(QStringLiteral(":/journal/infotest-journal.png")));

    runs_ = new RunsModel(this);
    questions_ = new QuestionsModel(this);
    createMenus();
    Tabs = new QTabWidget(this);
    Tabs->setObjectName(QStringLiteral("Tabs"));
    setCentralWidget(Tabs);
    createRunsPage();
    createAnswersPage();
    createQuestionsPage();
    createTabShortcuts();
    createStatusLine();
    createTimers();
    connectSignals();

    filterDay_ = QDate::currentDate();
    runs_->setFilter(currentFilter());
    // Sizes follow the screen: the window is no fixed-size form.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(screen->availableSize() * 4 / 5);
    RefreshTimer->start();
}

void JournalWindow::createMenus() {
    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&Файл"));
    FileOpen = fileMenu->addAction(QStringLiteral("&Открыть банк или журнал…"));
    FileOpen->setObjectName(QStringLiteral("FileOpen"));
    FileOpen->setShortcut(QKeySequence::Open);
    openServerAction_ = fileMenu->addAction(QStringLiteral("Открыть &сервер…"));
    openServerAction_->setObjectName(QStringLiteral("openServerAction"));
    fileMenu->addSeparator();
    FileExportCsv = fileMenu->addAction(QStringLiteral("Выгрузить прохождения в &CSV…"));
    FileExportCsv->setObjectName(QStringLiteral("FileExportCsv"));
    FileExportXlsx = fileMenu->addAction(QStringLiteral("Выгрузить прохождения в &XLSX…"));
    FileExportXlsx->setObjectName(QStringLiteral("FileExportXlsx"));
    FileExportPdf = fileMenu->addAction(QStringLiteral("&Отчёт в PDF…"));
    FileExportPdf->setObjectName(QStringLiteral("FileExportPdf"));
    FileExportPdf->setShortcut(QKeySequence::Print);
    fileMenu->addSeparator();
    FileQuit = fileMenu->addAction(QStringLiteral("В&ыход"));
    FileQuit->setObjectName(QStringLiteral("FileQuit"));
    FileQuit->setShortcut(QKeySequence::Quit);
}

QLayout* JournalWindow::createFilters(QWidget* page) {
    FromDate = new QDateEdit(QDate::currentDate(), page);
    FromDate->setObjectName(QStringLiteral("FromDate"));
    ToDate = new QDateEdit(QDate::currentDate(), page);
    ToDate->setObjectName(QStringLiteral("ToDate"));
    for (QDateEdit* edit : {FromDate, ToDate}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    }
    WhoEdit = new QLineEdit(page);
    WhoEdit->setObjectName(QStringLiteral("WhoEdit"));
    WhoEdit->setPlaceholderText(QStringLiteral("имя, логин или компьютер"));
    WhoEdit->setClearButtonEnabled(true);
    FinishedBox = new QComboBox(page);
    FinishedBox->setObjectName(QStringLiteral("FinishedBox"));
    FinishedBox->addItems(
        {QStringLiteral("все"), QStringLiteral("завершённые"), QStringLiteral("незавершённые")});
    auto* filters = new QHBoxLayout;
    filters->addWidget(buddyLabel(QStringLiteral("Дни &с"), FromDate, page));
    filters->addWidget(FromDate);
    filters->addWidget(buddyLabel(QStringLiteral("п&о"), ToDate, page));
    filters->addWidget(ToDate);
    filters->addSpacing(12);
    filters->addWidget(buddyLabel(QStringLiteral("&Поиск:"), WhoEdit, page));
    filters->addWidget(WhoEdit, 1);
    filters->addSpacing(12);
    filters->addWidget(buddyLabel(QStringLiteral("Про&хождения:"), FinishedBox, page));
    filters->addWidget(FinishedBox);
    return filters;
}

void JournalWindow::createRunsPage() {
    auto* runsPage = new QWidget(Tabs);
    QLayout* filters = createFilters(runsPage);
    RunsView = makeTable(runsPage, "RunsView");
    RunsView->setModel(runs_);
    RunsView->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    RunsView->setSortingEnabled(true);
    const QFontMetrics metrics(RunsView->font());
    // Wide enough for a typical value or the heading, whichever is wider.
    const char* const samples[data::journal::kRunColumns] = {"00.00.0000 00:00",
                                                             "class-pc00",
                                                             "pupil000",
                                                             "Константинопольская Александра",
                                                             "00:00",
                                                             "Баллы",
                                                             "Оценка",
                                                             "нет (0 из 10)",
                                                             "программой"};
    for (int column = 0; column < data::journal::kRunColumns; ++column)
        RunsView->setColumnWidth(
            column, std::max(metrics.horizontalAdvance(QString::fromUtf8(samples[column])),
                             metrics.horizontalAdvance(
                                 runs_->headerData(column, Qt::Horizontal).toString())) +
                        metrics.averageCharWidth() * 4);
    Summary = new QLabel(runsPage);
    Summary->setObjectName(QStringLiteral("Summary"));
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* runsLayout = new QVBoxLayout(runsPage);
    runsLayout->addLayout(filters);
    runsLayout->addWidget(RunsView, 1);
    runsLayout->addWidget(Summary);
    Tabs->insertTab(kRunsTab, runsPage, QStringLiteral("&Прохождения"));
}

void JournalWindow::createAnswersPage() {
    auto* answersPage = new QWidget(Tabs);
    AnswersTitle = new QLabel(answersPage);
    AnswersTitle->setObjectName(QStringLiteral("AnswersTitle"));
    AnswersTitle->setWordWrap(true);
    Answers = new QTextBrowser(answersPage);
    Answers->setObjectName(QStringLiteral("Answers"));
    auto* answersLayout = new QVBoxLayout(answersPage);
    answersLayout->addWidget(AnswersTitle);
    answersLayout->addWidget(Answers, 1);
    Tabs->insertTab(kAnswersTab, answersPage, QStringLiteral("&Ответы"));
}

void JournalWindow::createQuestionsPage() {
    auto* questionsPage = new QWidget(Tabs);
    QuestionsNote = new QLabel(
        QStringLiteral("Вопросы по завершённым прохождениям выбранных дней; сначала те, что "
                       "стоит проверить. Двойной щелчок или Enter показывает тексты вопроса."),
        questionsPage);
    QuestionsNote->setWordWrap(true);
    QuestionsView = makeTable(questionsPage, "QuestionsView");
    QuestionsView->setModel(questions_);
    const QFontMetrics metrics(QuestionsView->font());
    // The question's text takes the room the figures leave.
    const int questionChars[QuestionsModel::ColumnCount] = {28, 3, 0, 4, 4, 4, 4, 12, 12};
    for (int column = 0; column < QuestionsModel::ColumnCount; ++column)
        QuestionsView->setColumnWidth(
            column, std::max(metrics.averageCharWidth() * questionChars[column],
                             metrics.horizontalAdvance(
                                 questions_->headerData(column, Qt::Horizontal).toString())) +
                        metrics.averageCharWidth() * 3);
    QuestionsView->horizontalHeader()->setStretchLastSection(false);
    QuestionsView->horizontalHeader()->setSectionResizeMode(QuestionsModel::Question,
                                                            QHeaderView::Stretch);
    auto* questionsLayout = new QVBoxLayout(questionsPage);
    questionsLayout->addWidget(QuestionsNote);
    questionsLayout->addWidget(QuestionsView, 1);
    Tabs->insertTab(kQuestionsTab, questionsPage, QStringLiteral("&Вопросы"));
}

void JournalWindow::createTabShortcuts() {
    // The tabs' Cyrillic mnemonics need a Russian keyboard layout; Alt and a digit work on any.
    for (int i = 0; i < Tabs->count(); ++i) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_1 + i)), this);
        connect(shortcut, &QShortcut::activated, Tabs, [this, i] { Tabs->setCurrentIndex(i); });
        Tabs->setTabToolTip(i, shortcut->key().toString(QKeySequence::NativeText));
    }
}

void JournalWindow::createStatusLine() {
    Status = new QLabel(this);
    Status->setObjectName(QStringLiteral("Status"));
    statusBar()->addWidget(Status, 1);
    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setMaximumWidth(Progress->fontMetrics().averageCharWidth() * 30);
    Progress->hide();
    statusBar()->addPermanentWidget(Progress);
}

void JournalWindow::createTimers() {
    FilterDelay = new QTimer(this);
    FilterDelay->setSingleShot(true);
    FilterDelay->setInterval(300);
    RefreshTimer = new QTimer(this);
    RefreshTimer->setInterval(kRefreshMs);
    statsDelay_ = new QTimer(this);
    statsDelay_->setSingleShot(true);
    statsDelay_->setInterval(kStatsDelayMs);
    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setSingleShot(true);
    reconnectTimer_->setInterval(kReconnectMs);
}

void JournalWindow::connectSignals() {
    connect(FileOpen, &QAction::triggered, this, &JournalWindow::FileOpenClick);
    connect(openServerAction_, &QAction::triggered, this, &JournalWindow::onOpenServerTriggered);
    connect(FileExportCsv, &QAction::triggered, this, [this] { FileExportClick(ExportKind::Csv); });
    connect(FileExportXlsx, &QAction::triggered, this,
            [this] { FileExportClick(ExportKind::Xlsx); });
    connect(FileExportPdf, &QAction::triggered, this, [this] { FileExportClick(ExportKind::Pdf); });
    connect(FileQuit, &QAction::triggered, this, &QWidget::close);
    connect(Tabs, &QTabWidget::currentChanged, this, &JournalWindow::TabsChange);
    connect(FromDate, &QDateEdit::dateChanged, this, &JournalWindow::FilterChange);
    connect(ToDate, &QDateEdit::dateChanged, this, &JournalWindow::FilterChange);
    connect(WhoEdit, &QLineEdit::textChanged, FilterDelay, qOverload<>(&QTimer::start));
    connect(FinishedBox, &QComboBox::currentIndexChanged, this, &JournalWindow::FilterChange);
    connect(RunsView, &QAbstractItemView::activated, this, &JournalWindow::RunsViewActivated);
    connect(RunsView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &JournalWindow::RunsCurrentChanged);
    connect(QuestionsView, &QAbstractItemView::activated, this,
            &JournalWindow::QuestionsViewActivated);
    connect(FilterDelay, &QTimer::timeout, this, &JournalWindow::FilterChange);
    connect(RefreshTimer, &QTimer::timeout, this, &JournalWindow::refreshNow);
    connect(reconnectTimer_, &QTimer::timeout, this, &JournalWindow::startReconnect);
    connect(statsDelay_, &QTimer::timeout, this, [this] {
        if (Tabs->currentIndex() == kQuestionsTab)
            readQuestions();
    });
    connect(runs_, &RunsModel::summaryChanged, this, &JournalWindow::showSummary);
    connect(runs_, &RunsModel::readFailed, this, &JournalWindow::lose);
}

// A connection to a server made on a thread of its own: a server that does not answer keeps a
// connection waiting for seconds, and the window stays usable meanwhile. The thread hands the
// reader back through the window's event queue, unless the window went or gave up on it first:
// then the thread drops the reader itself.
struct JournalWindow::Reconnect {
    std::mutex mutex;
    bool cancelled = false;
    std::unique_ptr<JournalReader> reader;
    QString error;
    bool refused = false;
};

JournalWindow::~JournalWindow() {
    cancelReconnect();
}

RunFilter JournalWindow::currentFilter() const {
    RunFilter filter;
    filter.from = std::min(FromDate->date(), ToDate->date());
    filter.to = std::max(FromDate->date(), ToDate->date());
    filter.who = WhoEdit->text().trimmed();
    if (FinishedBox->currentIndex() > 0)
        filter.finished = FinishedBox->currentIndex() == 1;
    return filter;
}

void JournalWindow::openJournal(const QString& path) {
    // The new journal is opened before the shown one goes: a refused role loses nothing.
    const QByteArray identity = fileIdentity(path);
    std::unique_ptr<JournalReader> reader;
    QString problem;
    bool refused = false;
    try {
        reader = std::make_unique<JournalReader>(path);
    } catch (const data::journal::EJournalRefused& refusal) {
        toolkit::ShowErrorBox(refusal.message());
        if (!path_.isEmpty()) {
            notice_ = QStringLiteral("«%1» не открыт: %2")
                          .arg(data::Location(path).shown(), refusal.message());
            showStatus();
            return;
        }
        problem = refusal.message();
        refused = true;
    } catch (const Exception& error) {
        problem = error.message();
    }
    cancelReconnect();
    path_ = path;
    fileIdentity_ = identity;
    refused_ = refused;
    notice_.clear();
    lastRead_ = {};
    runs_->setReader(nullptr);
    questions_->setStats({});
    changeNotifier_.reset();
    reader_.reset();
    setWindowTitle(QStringLiteral("Журнал результатов — %1").arg(data::Location(path).shown()));
    if (reader)
        adopt(std::move(reader));
    else
        lose(problem);
    showStatus();
}

bool JournalWindow::tryOpen() {
    if (path_.isEmpty())
        return false;
    try {
        // The identity first: a file replaced between the two is opened afresh next time.
        fileIdentity_ = fileIdentity(path_);
        adopt(std::make_unique<JournalReader>(path_));
    } catch (const Exception& error) {
        lose(error.message());
    }
    return reader_ != nullptr;
}

void JournalWindow::adopt(std::unique_ptr<JournalReader> reader) {
    reader_ = std::move(reader);
    try {
        // A server tells of its changes on a socket: read at once, not at the next tick.
        if (const int socket = reader_->changeSocket(); socket >= 0) {
            changeNotifier_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
            connect(changeNotifier_.get(), &QSocketNotifier::activated, this,
                    &JournalWindow::refreshNow);
        }
        // Back after a loss: the rows shown are read again in place, the selection stays.
        runs_->reconnect(reader_.get());
        questionsStale_ = true;
        if (Tabs->currentIndex() == kQuestionsTab)
            readQuestions();
        if (reader_) {
            lastRead_ = QDateTime::currentDateTime();
            problem_.clear();
        }
    } catch (const Exception& error) {
        lose(error.message());
    }
    showStatus();
}

void JournalWindow::lose(const QString& message) {
    // What was read stays on the screen; the journal is tried again at the next tick.
    runs_->detach();
    // Before the reader, whose connection owns the socket.
    changeNotifier_.reset();
    reader_.reset();
    problem_ = message;
    // A server restarting or a network coming back takes seconds: asking sooner only adds load.
    if (data::Location(path_).isServer() && !refused_ && !reconnect_)
        reconnectTimer_->start();
    showStatus();
}

void JournalWindow::startReconnect() {
    if (reader_ || reconnect_ || refused_ || path_.isEmpty())
        return;
    auto attempt = std::make_shared<Reconnect>();
    const auto connectOffThread = [this, attempt, path = path_] {
        std::unique_ptr<JournalReader> reader;
        QString error;
        bool refused = false;
        try {
            reader = std::make_unique<JournalReader>(path);
        } catch (const data::journal::EJournalRefused& refusal) {
            error = refusal.message();
            refused = true;
        } catch (const Exception& e) {
            error = e.message();
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        }
        const std::lock_guard lock(attempt->mutex);
        if (attempt->cancelled)
            return;
        attempt->reader = std::move(reader);
        attempt->error = error;
        attempt->refused = refused;
        // Under the lock: the window cannot be destroyed before the call is queued, and once
        // queued it is dropped with the window.
        QMetaObject::invokeMethod(
            this,
            [this, attempt] {
                if (reconnect_ != attempt)
                    return; // another journal was opened meanwhile
                reconnect_.reset();
                if (attempt->reader) {
                    adopt(std::move(attempt->reader));
                    return;
                }
                // A role that lost its rights is told so once, not asked again every few seconds.
                refused_ = attempt->refused;
                lose(attempt->error);
            },
            Qt::QueuedConnection);
    };
    try {
        std::thread(connectOffThread).detach();
        reconnect_ = attempt;
    } catch (const std::system_error& error) {
        lose(QStringLiteral("не удалось начать подключение: %1")
                 .arg(QString::fromLocal8Bit(error.what())));
        return;
    }
    showStatus();
}

void JournalWindow::cancelReconnect() {
    reconnectTimer_->stop();
    if (!reconnect_)
        return;
    {
        const std::lock_guard lock(reconnect_->mutex);
        reconnect_->cancelled = true;
    }
    reconnect_.reset();
}

void JournalWindow::refreshNow() {
    if (filterDay_ != QDate::currentDate()) {
        // Left open overnight on "today": the filter moves on to the new day.
        const bool today = FromDate->date() == filterDay_ && ToDate->date() == filterDay_;
        filterDay_ = QDate::currentDate();
        if (today) {
            const QSignalBlocker blocker(FromDate);
            FromDate->setDate(filterDay_);
            ToDate->setDate(filterDay_);
        }
    }
    if (!reader_) {
        // A server is connected again by reconnectTimer_, off the window's thread.
        if (!data::Location(path_).isServer())
            tryOpen();
        showStatus();
        return;
    }
    try {
        if (fileIdentity(path_) != fileIdentity_) {
            lose(QStringLiteral("файл журнала «%1» пропал или заменён")
                     .arg(QDir::toNativeSeparators(path_)));
            tryOpen();
        } else if (reader_->changed() || runs_->runTurnedAbandoned()) {
            readRuns();
            questionsStale_ = true;
            // However many runs arrive, the statistics are read once when they have settled.
            if (Tabs->currentIndex() == kQuestionsTab && !statsDelay_->isActive())
                statsDelay_->start();
        }
        if (reader_) {
            lastRead_ = QDateTime::currentDateTime();
            problem_.clear();
        }
    } catch (const Exception& error) {
        lose(error.message());
    }
    showStatus();
}

void JournalWindow::readRuns() {
    // The row at the top of the view stays there while runs are added above it; at the very top
    // the view stays at the top, where the newest runs come in.
    const int top = RunsView->rowAt(0);
    const data::journal::Run* anchor = top > 0 ? runs_->runAt(top) : nullptr;
    const qint64 anchorId = anchor ? anchor->id : -1;
    runs_->refresh();
    if (anchorId >= 0) {
        const int row = runs_->rowOf(anchorId);
        if (row >= 0 && row != RunsView->rowAt(0)) {
            RunsView->doItemsLayout();
            RunsView->scrollTo(runs_->index(row, 0), QAbstractItemView::PositionAtTop);
        }
    }
}

void JournalWindow::showStatus() {
    const QString where = data::Location(path_).shown();
    if (path_.isEmpty())
        Status->setText(QStringLiteral("Журнал не открыт: Файл → Открыть"));
    else if (reader_)
        Status->setText(QStringLiteral("Журнал %1 прочитан в %2%3")
                            .arg(where, lastRead_.toString(QStringLiteral("HH:mm:ss")),
                                 notice_.isEmpty() ? QString() : QStringLiteral("; ") + notice_));
    else
        Status->setText(
            QStringLiteral("Журнал недоступен (%1)%2%3")
                .arg(problem_.simplified(),
                     refused_ ? QString()
                     : !data::Location(path_).isServer()
                         ? QStringLiteral(", новая попытка каждую секунду")
                     : reconnect_
                         ? QStringLiteral(", переподключение…")
                         : QStringLiteral(", переподключение через %1 с").arg(kReconnectMs / 1000),
                     lastRead_.isValid() ? QStringLiteral("; последний раз прочитан в %1")
                                               .arg(lastRead_.toString(QStringLiteral("HH:mm:ss")))
                                         : QString()));
}

void JournalWindow::showSummary() {
    const data::journal::RunSummary& s = runs_->summary();
    Summary->setText(
        QStringLiteral("Прохождений: %1; средний балл завершённых: %2; оценки 5: %3, 4: %4, "
                       "3: %5, 2: %6")
            .arg(s.runs)
            .arg(QLocale(QLocale::Russian).toString(s.meanPoints, 'f', 1))
            .arg(s.grades[0])
            .arg(s.grades[1])
            .arg(s.grades[2])
            .arg(s.grades[3]));
}

void JournalWindow::FileOpenClick() {
    const QString chosen = QFileDialog::getOpenFileName(
        this, QStringLiteral("Открыть банк вопросов или журнал результатов"),
        path_.isEmpty() ? QString() : QFileInfo(path_).absolutePath(),
        QStringLiteral("Банк или журнал (*.mdb *.db);;Все файлы (*)"));
    if (!chosen.isEmpty())
        openJournal(journalPathFor(chosen));
}

bool askPasswordIfWanted(QWidget* parent, const QString& url) {
    if (!data::Location(url).isServer() || !data::pg::passwordWanted(url))
        return true;
    bool given = false;
    const QString password = QInputDialog::getText(
        parent, QStringLiteral("Пароль"),
        QStringLiteral("Пароль для входа на сервер\n%1:").arg(data::Location(url).shown()),
        QLineEdit::Password, QString(), &given);
    if (given)
        data::pg::usePassword(password);
    return given;
}

void JournalWindow::onOpenServerTriggered() {
    bool given = false;
    const QString url =
        QInputDialog::getText(this, QStringLiteral("Открыть журнал на сервере"),
                              QStringLiteral("Адрес сервера, например\n"
                                             "postgresql://учитель@сервер/infotest:"),
                              QLineEdit::Normal,
                              data::Location(path_).isServer() ? data::Location(path_).shown()
                                                               : QStringLiteral("postgresql://"),
                              &given)
            .trimmed();
    if (!given || url.isEmpty())
        return;
    if (!data::Location(url).isServer()) {
        toolkit::ShowErrorBox(
            QStringLiteral("«%1» не адрес сервера: он начинается с postgresql://").arg(url));
        return;
    }
    try {
        if (!askPasswordIfWanted(this, url))
            return;
    } catch (const Exception& error) {
        toolkit::ShowErrorBox(error.message());
        return;
    }
    openJournal(url);
}

void JournalWindow::FileExportClick(ExportKind kind) {
    struct Format {
        const char* suffix;
        const char* filter;
    };
    static const Format formats[] = {{"csv", "Таблица CSV (*.csv)"},
                                     {"xlsx", "Книга Excel (*.xlsx)"},
                                     {"pdf", "Отчёт PDF (*.pdf)"}};
    const Format& format = formats[int(kind)];
    const RunFilter filter = currentFilter();
    const QString day = QStringLiteral("yyyy-MM-dd");
    const QString name = QStringLiteral("результаты %1–%2.%3")
                             .arg(filter.from->toString(day), filter.to->toString(day),
                                  QLatin1String(format.suffix));
    QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Выгрузить прохождения"),
        QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)).filePath(name),
        QString::fromUtf8(format.filter));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QLatin1String(format.suffix);
    if (!exportTo(kind, path))
        return;
    // Without a viewer for the format (a bare desktop) the file is there all the same.
    const QString where = QDir::toNativeSeparators(path);
    statusBar()->showMessage(
        QDesktopServices::openUrl(QUrl::fromLocalFile(path))
            ? QStringLiteral("Записано в «%1»").arg(where)
            : QStringLiteral("Записано в «%1»; открыть его не удалось: нет программы для просмотра")
                  .arg(where),
        kExportMessageMs);
}

bool JournalWindow::exportTo(ExportKind kind, const QString& path) {
    if (!reader_) {
        toolkit::ShowErrorBox(
            QStringLiteral("Журнал недоступен (%1), выгружать нечего").arg(problem_));
        return false;
    }
    const RunFilter filter = currentFilter();
    Progress->setRange(0, 0);
    Progress->show();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The window keeps painting while a school year's journal is written; the teacher's input
    // waits until it is done.
    const bank::journal::Progress progress = [this](qint64 done, qint64 total) {
        Progress->setRange(0, int(std::min<qint64>(total, INT_MAX)));
        Progress->setValue(int(std::min<qint64>(done, INT_MAX)));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    bool written = true;
    try {
        const std::vector<data::journal::Run> runs = reader_->store().runs(filter);
        progress(0, qint64(runs.size()));
        switch (kind) {
        case ExportKind::Csv:
            bank::journal::writeCsv(bank::journal::runsSheet(runs), path);
            break;
        case ExportKind::Xlsx:
            bank::journal::writeXlsx(bank::journal::runsSheet(runs), path, progress);
            break;
        case ExportKind::Pdf: {
            const QString day = QStringLiteral("dd.MM.yyyy");
            bank::journal::writeReport(
                runs, reader_->store().questionStats(filter), path,
                {reader_->title(), QStringLiteral("за %1–%2")
                                       .arg(filter.from->toString(day), filter.to->toString(day))});
            break;
        }
        }
    } catch (const Exception& error) {
        written = false;
        toolkit::ShowErrorBox(QStringLiteral("Не удалось выгрузить прохождения в «%1»: %2")
                                  .arg(QDir::toNativeSeparators(path), error.message()));
    }
    QGuiApplication::restoreOverrideCursor();
    Progress->hide();
    return written;
}

void JournalWindow::FilterChange() {
    FilterDelay->stop();
    try {
        runs_->setFilter(currentFilter());
        questionsStale_ = true;
        if (Tabs->currentIndex() == kQuestionsTab)
            readQuestions();
    } catch (const Exception& error) {
        lose(error.message());
    }
}

void JournalWindow::RunsViewActivated() {
    Tabs->setCurrentIndex(kAnswersTab);
}

void JournalWindow::RunsCurrentChanged() {
    const data::journal::Run* run = runs_->runAt(RunsView->currentIndex().row());
    const qint64 id = run ? run->id : -1;
    if (id == shownRun_)
        return;
    shownRun_ = id;
    showAnswers();
}

void JournalWindow::showAnswers() {
    const data::journal::Run* run = runs_->runAt(RunsView->currentIndex().row());
    if (!run) {
        AnswersTitle->setText(QStringLiteral("Выберите прохождение на вкладке «Прохождения»."));
        Answers->clear();
        return;
    }
    const data::journal::RunRecord& r = run->record;
    AnswersTitle->setText(
        QStringLiteral("<b>%1</b> (%2, компьютер %3), %4, %5: баллов %6, оценка %7")
            .arg(escaped(bank::journal::pupilName(r)), escaped(r.login), escaped(r.host),
                 r.started.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")),
                 run->state != data::journal::RunState::Recorded ? stateText(run->state)
                 : r.finished ? QStringLiteral("завершён")
                              : QStringLiteral("не завершён, отвечено %1 из %2")
                                    .arg(run->answered)
                                    .arg(data::journal::kQuestionsPerRun))
            .arg(r.points)
            .arg(r.grade ? QString::number(*r.grade) : QStringLiteral("нет")));
    if (!reader_) {
        Answers->setHtml(QStringLiteral("<p>Журнал сейчас недоступен.</p>"));
        return;
    }
    try {
        Answers->setHtml(answersHtml(reader_->store().answers(run->id)));
    } catch (const Exception& error) {
        lose(error.message());
    }
}

void JournalWindow::TabsChange() {
    if (Tabs->currentIndex() == kQuestionsTab && questionsStale_)
        readQuestions();
}

void JournalWindow::readQuestions() {
    if (!reader_)
        return;
    RunFilter dates;
    dates.from = currentFilter().from;
    dates.to = currentFilter().to;
    try {
        questions_->setStats(reader_->store().questionStats(dates));
        questionsStale_ = false;
    } catch (const Exception& error) {
        lose(error.message());
    }
}

void JournalWindow::QuestionsViewActivated() {
    const data::journal::QuestionStats* stats =
        questions_->statsAt(QuestionsView->currentIndex().row());
    if (!stats)
        return;
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("QuestionDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Вопрос %1").arg(stats->questionId));
    auto* text = new QTextBrowser(dialog);
    text->setHtml(questionHtml(*stats));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    // Qt's own caption is English where Debian's translations of Qt are not installed.
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("Закрыть"));
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog->resize(width() / 2, height() * 2 / 3);
    dialog->open();
}

} // namespace journal
