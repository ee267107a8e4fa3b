#include "reports/JournalExport.h"

#include "formats/Csv.h"
#include "formats/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <xlsxwriter.h>

namespace bank::journal {

using data::journal::Answer;
using data::journal::Run;

namespace {

const QString kTimeFormat = QStringLiteral("dd.MM.yyyy HH:mm:ss");
// The longest text a spreadsheet cell holds.
constexpr qsizetype kMaxCellText = 32767;

QString choiceText(const data::journal::ShownChoices& choices, int chosen) {
    return choices[size_t(chosen - 1)].text;
}

} // namespace

QString pupilName(const data::journal::RunRecord& run) {
    if (!run.pupil.isEmpty())
        return run.pupil;
    return run.fullName.isEmpty() ? run.login : run.fullName;
}

QString yesNo(bool value) {
    return value ? QStringLiteral("да") : QStringLiteral("нет");
}

Sheet runsSheet(const std::vector<Run>& runs) {
    Sheet sheet{QStringLiteral("Прохождения"),
                {QStringLiteral("Начало"), QStringLiteral("Компьютер"), QStringLiteral("Логин"),
                 QStringLiteral("Имя"), QStringLiteral("Длительность, мин"),
                 QStringLiteral("Баллы"), QStringLiteral("Оценка"), QStringLiteral("Завершён"),
                 QStringLiteral("Запоздал"), QStringLiteral("Логин сообщён")},
                {}};
    sheet.rows.reserve(runs.size());
    for (const Run& run : runs) {
        const auto& r = run.record;
        sheet.rows.push_back({r.started, r.host, r.login, pupilName(r),
                              qRound(double(run.seconds()) / 6.0) / 10.0, qint64(r.points),
                              r.grade ? QVariant(qint64(*r.grade)) : QVariant(), yesNo(r.finished),
                              yesNo(run.late()), yesNo(run.loginReported)});
    }
    return sheet;
}

Sheet answersSheet(const data::journal::JournalStore& journal, const std::vector<Run>& runs,
                   const Progress& progress) {
    Sheet sheet{QStringLiteral("Ответы"),
                {QStringLiteral("Начало"), QStringLiteral("Компьютер"), QStringLiteral("Логин"),
                 QStringLiteral("Имя"), QStringLiteral("№"), QStringLiteral("Вопрос"),
                 QStringLiteral("Выбранный ответ"), QStringLiteral("Ответ верен"),
                 QStringLiteral("Выбранное пояснение"), QStringLiteral("Пояснение верно")},
                {}};
    qint64 done = 0;
    for (const Run& run : runs) {
        const auto& r = run.record;
        qint64 number = 0;
        for (const Answer& a : journal.answers(run.id))
            sheet.rows.push_back({r.started, r.host, r.login, pupilName(r), ++number, a.question,
                                  choiceText(a.options, a.chosenOption), yesNo(a.optionRight()),
                                  choiceText(a.explanations, a.chosenExplanation),
                                  yesNo(a.explanationRight())});
        if (progress)
            progress(++done, qint64(runs.size()));
    }
    return sheet;
}

QString cellText(const QVariant& value) {
    if (value.isNull())
        return QString();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toLocalTime().toString(kTimeFormat);
    if (value.typeId() == QMetaType::Double)
        return QLocale(QLocale::Russian).toString(value.toDouble(), 'g', 12);
    return value.toString();
}

QString terminalTable(const Sheet& sheet) {
    // Long texts (a question) are cut so that a line stays readable.
    constexpr qsizetype kWidest = 60;
    const size_t columns = size_t(sheet.header.size());
    std::vector<qsizetype> widths(columns, 0);
    std::vector<bool> numeric(columns, false); // right-aligned
    std::vector<QStringList> lines{sheet.header};
    for (const auto& row : sheet.rows) {
        QStringList cells;
        for (size_t i = 0; i < row.size() && i < columns; ++i) {
            QString text = terminalText(cellText(row[i]).simplified());
            if (text.size() > kWidest)
                text = text.left(kWidest - 1) + u'…';
            cells << text;
            const int type = row[i].typeId();
            numeric[i] = numeric[i] || type == QMetaType::LongLong || type == QMetaType::Double;
        }
        lines.push_back(cells);
    }
    for (const QStringList& cells : lines)
        for (qsizetype i = 0; i < cells.size(); ++i)
            widths[size_t(i)] = std::max(widths[size_t(i)], cells[i].size());
    QString out;
    for (const QStringList& cells : lines) {
        QString line;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            if (i > 0)
                line += QStringLiteral("  ");
            line += numeric[size_t(i)] ? cells[i].rightJustified(widths[size_t(i)])
                                       : cells[i].leftJustified(widths[size_t(i)]);
        }
        while (line.endsWith(u' '))
            line.chop(1);
        out += line + u'\n';
    }
    return out;
}

QByteArray csvBytes(const Sheet& sheet) {
    QString text = csv::formatRecord(sheet.header, u';');
    for (const auto& row : sheet.rows) {
        QStringList cells;
        for (const QVariant& value : row) {
            QString cell = cellText(value);
            // OWASP's advice for CSV: such a first character would start a formula.
            if (value.typeId() == QMetaType::QString && !cell.isEmpty() &&
                QStringLiteral("=+-@\t\r").contains(cell.front()))
                cell.prepend(u'\'');
            cells << cell;
        }
        text += csv::formatRecord(cells, u';');
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void writeCsv(const Sheet& sheet, const QString& path) {
    const QByteArray bytes = csvBytes(sheet);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw EToolError(
            QStringLiteral("не удаётся записать «%1»: %2").arg(path, file.errorString()));
}

void writeXlsx(const Sheet& sheet, const QString& path, const Progress& progress) {
    const auto fail = [&path](const QString& why) {
        return EToolError(QStringLiteral("не удаётся записать «%1»: %2").arg(path, why));
    };
    // The workbook is written under a name of its own beside the target, then put in its place.
    QTemporaryFile temporary(QFileInfo(path).absoluteDir().filePath(QStringLiteral("XXXXXX.xlsx")));
    if (!temporary.open())
        throw fail(temporary.errorString());
    const QByteArray temporaryName = QFile::encodeName(temporary.fileName());
    temporary.close();

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE; // rows go to disk as written: a year's journal fits
    lxw_workbook* workbook = workbook_new_opt(temporaryName.constData(), &options);
    if (!workbook)
        throw fail(QStringLiteral("библиотека xlsxwriter не создала книгу"));
    lxw_worksheet* worksheet = workbook_add_worksheet(workbook, sheet.name.toUtf8().constData());
    lxw_format* bold = workbook_add_format(workbook);
    format_set_bold(bold);
    lxw_format* time = workbook_add_format(workbook);
    format_set_num_format(time, "dd.mm.yyyy hh:mm:ss");

    // Set before the rows: in constant memory the sheet is written as it goes.
    const auto lastColumn = lxw_col_t(std::max<qsizetype>(sheet.header.size(), 1) - 1);
    worksheet_set_column(worksheet, 0, 0, 20, nullptr);
    worksheet_set_column(worksheet, 1, lastColumn, 16, nullptr);
    worksheet_freeze_panes(worksheet, 1, 0);
    worksheet_autofilter(worksheet, 0, 0, lxw_row_t(sheet.rows.size()), lastColumn);
    for (qsizetype c = 0; c < sheet.header.size(); ++c)
        worksheet_write_string(worksheet, 0, lxw_col_t(c), sheet.header[c].toUtf8().constData(),
                               bold);
    lxw_row_t row = 1;
    for (const auto& cells : sheet.rows) {
        for (size_t c = 0; c < cells.size(); ++c) {
            const QVariant& v = cells[c];
            const auto column = lxw_col_t(c);
            switch (v.typeId()) {
            case QMetaType::QDateTime: {
                const QDateTime local = v.toDateTime().toLocalTime();
                lxw_datetime when{local.date().year(),   local.date().month(),
                                  local.date().day(),    local.time().hour(),
                                  local.time().minute(), double(local.time().second())};
                worksheet_write_datetime(worksheet, row, column, &when, time);
                break;
            }
            case QMetaType::Double:
            case QMetaType::LongLong:
            case QMetaType::Int:
                worksheet_write_number(worksheet, row, column, v.toDouble(), nullptr);
                break;
            default:
                if (!v.isNull())
                    worksheet_write_string(worksheet, row, column,
                                           v.toString().left(kMaxCellText).toUtf8().constData(),
                                           nullptr);
            }
        }
        if (progress && row % 1000 == 0)
            progress(qint64(row), qint64(sheet.rows.size()));
        ++row;
    }
    const lxw_error error = workbook_close(workbook);
    if (error != LXW_NO_ERROR)
        throw fail(QString::fromUtf8(lxw_strerror(error)));
    // The temporary name is made readable by its owner only; the workbook gets the permissions
    // the other exports get: those of the file it replaces, else what the umask allows.
    struct stat target {};
    mode_t mode = 0;
    if (::stat(QFile::encodeName(path).constData(), &target) == 0) {
        mode = target.st_mode & 07777;
    } else {
        mode = ::umask(0); // reading the mask means setting it: put straight back
        ::umask(mode);
        mode = 0666 & ~mode;
    }
    if (::chmod(temporaryName.constData(), mode) != 0)
        throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    if (std::rename(temporaryName.constData(), QFile::encodeName(path).constData()) != 0)
        throw fail(QString::fromLocal8Bit(std::strerror(errno)));
    temporary.setAutoRemove(false);
}

} // namespace bank::journal
