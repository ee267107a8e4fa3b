#pragma once

#include <QIODevice>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

namespace bank {

// A command line of infotest-bank as the command sees it.
struct Context {
    QStringList args;                  // after the command, without its options
    QSet<QString> switches;            // "--key"
    std::map<QString, QString> values; // "--seed" → "7"
    QIODevice& out;
    QIODevice& err;
};

// A command of infotest-bank: how many arguments it takes, its usage line, what it runs and the
// options it knows.
struct Command {
    int minArgs;
    int maxArgs;
    const char* usage;
    std::function<int(Context&)> run;
    QStringList switches = {}; // options without a value
    QStringList valued = {};   // options followed by a value
};

} // namespace bank
