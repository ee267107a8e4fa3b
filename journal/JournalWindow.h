#pragma once

#include "data/journal/JournalReader.h"

#include <QDateTime>
#include <QMainWindow>
#include <memory>

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QLayout;
class QSocketNotifier;
class QLineEdit;
class QProgressBar;
class QTabWidget;
class QTableView;
class QTextBrowser;
class QTimer;

namespace journal {

class QuestionsModel;
class RunsModel;

// The teacher's window on a results journal: the runs, a run's answers and the questions'
// statistics, kept up to date while pupils take tests. It only ever reads the journal.
class JournalWindow : public QMainWindow {
    Q_OBJECT
public:
    // How often the journal is looked at, and a file retried when it cannot be read.
    static constexpr int kRefreshMs = 1000;
    // How long after a server's journal was lost, or a try failed, it is connected again.
    static constexpr int kReconnectMs = 3000;
    // However many runs arrive, the questions' statistics are read again at most this often.
    static constexpr int kStatsDelayMs = 3000;
    // The tabs, in their order.
    static constexpr int kRunsTab = 0;
    static constexpr int kAnswersTab = 1;
    static constexpr int kQuestionsTab = 2;
    // How long the status line says where an export was written.
    static constexpr int kExportMessageMs = 15000;

    explicit JournalWindow(QWidget* parent = nullptr);
    ~JournalWindow() override;

    // Opens the journal of a bank, a journal file or a server's journal (a URL). A journal that
    // cannot be read is named in the status line and tried again, never in a box; a server's,
    // off the window's thread. A role that may not read a server's journal is refused in a box
    // once, and the window keeps the journal it showed.
    void openJournal(const QString& path);
    const QString& journalPath() const { return path_; }
    bool isReachable() const { return reader_ != nullptr; }
    const data::journal::JournalReader* reader() const { return reader_.get(); }

    // One look at the journal, as the timer takes it.
    void refreshNow();

    enum class ExportKind { Csv, Xlsx, Pdf };
    // Writes the runs of the filter to a file, through the bank tool's own writers, with the
    // progress in the status line. A failure is shown in the error box; false then.
    bool exportTo(ExportKind kind, const QString& path);

    RunsModel* runsModel() const { return runs_; }
    QuestionsModel* questionsModel() const { return questions_; }

private:
    void createMenus();
    QLayout* createFilters(QWidget* page);
    void createRunsPage();
    void createAnswersPage();
    void createQuestionsPage();
    void createTabShortcuts();
    void createStatusLine();
    void createTimers();
    void connectSignals();

    void onOpenServerTriggered();
    void FileOpenClick();
    void FileExportClick(ExportKind kind);
    void FilterChange();
    void RunsViewActivated();
    void RunsCurrentChanged();
    void TabsChange();
    void QuestionsViewActivated();

    data::journal::RunFilter currentFilter() const;
    bool tryOpen();
    void adopt(std::unique_ptr<data::journal::JournalReader> reader);
    void startReconnect();
    void cancelReconnect();
    void lose(const QString& message);
    void showStatus();
    void showSummary();
    void showAnswers();
    void readRuns();
    void readQuestions();

    QString path_;
    std::unique_ptr<data::journal::JournalReader> reader_;
    QDateTime lastRead_;
    // The day "today" meant when the filter was last set.
    QDate filterDay_;
    QString problem_;
    // The server refused this role: not tried again until another journal is opened.
    bool refused_ = false;
    // A refusal of another journal, said next to the one still shown.
    QString notice_;
    // The connection being made off the window's thread, if any.
    struct Reconnect;
    std::shared_ptr<Reconnect> reconnect_;
    // The file's identity when opened: a journal replaced by a copy is opened afresh.
    QByteArray fileIdentity_;
    bool questionsStale_ = true;
    qint64 shownRun_ = -1;

    RunsModel* runs_;
    QuestionsModel* questions_;

    QAction* FileOpen;
    QAction* FileExportCsv;
    QAction* FileExportXlsx;
    QAction* FileExportPdf;
    QAction* FileQuit;
    QTabWidget* Tabs;
    QDateEdit* FromDate;
    QDateEdit* ToDate;
    QLineEdit* WhoEdit;
    QComboBox* FinishedBox;
    QTableView* RunsView;
    QLabel* Summary;
    QLabel* AnswersTitle;
    QTextBrowser* Answers;
    QLabel* QuestionsNote;
    QTableView* QuestionsView;
    QLabel* Status;
    QProgressBar* Progress;
    QTimer* FilterDelay;
    QTimer* RefreshTimer;
    QAction* openServerAction_;
    QTimer* statsDelay_;
    QTimer* reconnectTimer_;
    std::unique_ptr<QSocketNotifier> changeNotifier_;
};

// Asks for the password of a server's URL once, when the server wants one that neither the URL
// nor ~/.pgpass gives; it is kept in memory for this run only. False when the user cancelled.
bool askPasswordIfWanted(QWidget* parent, const QString& url);

// The answers of a run as the pupil saw them, marked right or wrong, the right ones shown.
QString answersHtml(const std::vector<data::journal::Answer>& answers);

} // namespace journal
