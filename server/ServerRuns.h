#pragma once

#include <QString>

namespace data::pg {
class Connection;
}

// The server's side of a pupil's run on a school's server: the pupils' role reads the bank
// without its marks and reaches the rest only through the functions made here, which number
// the questions before a draw, start a run from the server's own copy of the rows shown and
// score and record it. They run as an owner role that cannot log in, with their own search path
// and lock timeout, so that a caller can neither borrow their rights nor make them wait long.
//
// What a client calls (the values as libpq parameters):
//   "Пронумеровать_вопросы"(integer[] ids) -> rows (id, "Номер"): the ids in the order the
//       program holds its rows; the bank's rows are numbered 1..N in that order (those another
//       transaction holds are left as they are) and the program's rows take the numbers returned.
//   "Начать_тест"(integer[] questions, integer[][] options, integer[][] explanations,
//       text login, text host, text full_name, text pupil) -> uuid: ten question ids and, for
//       each, the ids of the four option rows and of the four explanation rows shown (the first
//       four in id order, the last repeated when there are fewer). Refused (22023) when a row
//       belongs to another question, a row is left out or the counts are wrong.
//   "Завершить_тест"(uuid token, integer[] options, integer[] explanations) -> one row
//       ("Баллы", "Оценка", "Удалено"): the chosen row id of each question answered, in the
//       order asked; fewer than ten record an unfinished run (points and grade then null).
//       Calling again with the same token returns the stored result and stores nothing; an
//       unknown token is refused (22023) and nothing is stored. A token of any age is recorded:
//       a run queued through an outage arrives late, and the journal shows it (Run::late()).
//       Every 22023 is for good: the same call is refused again. "Удалено" counts chosen rows that
//       had been deleted from the bank before the run started: they score 0.
namespace bank::server::runs {

// The role that owns the functions; it cannot log in.
inline constexpr char kOwnerRole[] = "infotest_владелец";

// Inside server-init's transaction, after the tables: the table of started runs, the owner
// role and the functions. pupils is the shared pupils' role: a run recorded through it keeps
// the login the program reports, marked as reported.
void install(const data::pg::Connection& db, const QString& pupils);

// After the tables' own rights: what each role may read and call.
void grant(const data::pg::Connection& db, const QString& teachers, const QString& pupils);

// Grants the privileges on the sequence that numbers a table's ids, if it has one.
void grantOnIdSequence(const data::pg::Connection& db, const QString& table,
                       const QString& privileges, const QString& role);

// Whether server-init made the started runs' table (a server set up before has none).
bool installed(const data::pg::Connection& db);

} // namespace bank::server::runs
