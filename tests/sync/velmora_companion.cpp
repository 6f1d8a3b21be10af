// velmora-companion: the test tablet from another process, for tests that run the real program.
//
//   velmora-companion --root <Diary Sync> --state <folder> <command> [arguments]
//     write-page <day> <text> [--sealed] [--at <ms>]   a page file, as the tablet writes one
//     conflict-copy <day> <text> [--at <ms>]           a Syncthing conflict copy of the day
//     torn-page <day> <text> <bytes>                    the start of a page written in place
//     drawing <file name> <x,y;x,y;…>                   one stroke through the points
//     profile <name> <ms>                               profile.json
//     edit <day> <text> | seal <day>                    a change in the tablet's own diary
//     sync                                              one pass of the tablet's sync
//     show <day>                                        the day's page file as the tablet reads it
//     unreadable <folder> | readable <folder> | vanish | reappear
//   velmora-companion relay <side A> <side B> [--state <folder>] [--rounds <n>] [--every <ms>]
//     rounds of a relay between the two folders; with --state it remembers what it carried
//     between runs, as a sync tool does
#include "support/SyncRelay.h"
#include "support/TabletCompanion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QTextStream>
#include <QThread>

#include <cstdio>
#include <exception>

using namespace velmora::test;

namespace {

int run(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("root"), QStringLiteral("The tablet's Diary Sync."),
                      QStringLiteral("folder")});
    parser.addOption({QStringLiteral("state"), QStringLiteral("The tablet's own state."),
                      QStringLiteral("folder")});
    parser.addOption(
        {QStringLiteral("at"), QStringLiteral("The time, ms since 1970."), QStringLiteral("ms")});
    parser.addOption(
        {QStringLiteral("rounds"), QStringLiteral("Relay rounds."), QStringLiteral("n")});
    parser.addOption({QStringLiteral("every"), QStringLiteral("Ms between relay rounds."),
                      QStringLiteral("ms")});
    parser.addOption({QStringLiteral("sealed"), QStringLiteral("A sealed page.")});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do."));
    parser.process(arguments);
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        parser.showHelp(2);
    QTextStream out(stdout);
    const QString command = words.first();
    const auto word = [&](qsizetype i) {
        if (i >= words.size())
            throw std::runtime_error("missing argument for " + command.toStdString());
        return words.at(i);
    };

    if (command == u"relay") {
        const QString state = parser.value(QStringLiteral("state"));
        SyncRelay relay(word(1), word(2), QStringLiteral("RELAY42"),
                        state.isEmpty() ? QString() : state + QStringLiteral("/relay-state.json"));
        const int rounds = parser.isSet(QStringLiteral("rounds"))
                               ? parser.value(QStringLiteral("rounds")).toInt()
                               : 1;
        const unsigned long every = parser.value(QStringLiteral("every")).toULong();
        for (int i = 0; i < rounds; ++i) {
            if (i > 0 && every > 0)
                QThread::msleep(every);
            const SyncRelay::Round round = relay.step();
            for (const QString &name : round.conflicts)
                out << "conflict " << name << '\n';
        }
        return 0;
    }

    TabletCompanion tablet(parser.value(QStringLiteral("root")),
                           parser.value(QStringLiteral("state")));
    const qint64 at =
        parser.isSet(QStringLiteral("at")) ? parser.value(QStringLiteral("at")).toLongLong() : 0;
    const auto pageOf = [&](const QString &day, const QString &text) {
        CompanionPage page =
            TabletCompanion::page(day, text, parser.isSet(QStringLiteral("sealed")));
        if (at) {
            page.createdAtMs = page.updatedAtMs = at;
            if (page.sealedAtMs)
                page.sealedAtMs = at;
        }
        return page;
    };
    if (command == u"write-page") {
        out << tablet.writePage(pageOf(word(1), word(2))) << '\n';
    } else if (command == u"conflict-copy") {
        out << tablet.writeConflictCopy(pageOf(word(1), word(2)),
                                        at ? at : QDateTime::currentMSecsSinceEpoch())
            << '\n';
    } else if (command == u"torn-page") {
        out << tablet.writeTornPage(pageOf(word(1), word(2)), word(3).toLongLong()) << '\n';
    } else if (command == u"drawing") {
        CompanionStroke stroke;
        for (const QString &point : word(2).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QStringList xy = point.split(QLatin1Char(','));
            stroke.points.append({xy.value(0).toDouble(), xy.value(1).toDouble(), 1});
        }
        out << tablet.writeDrawing(word(1), {stroke}) << '\n';
    } else if (command == u"profile") {
        tablet.writeProfile({word(1), word(2).toLongLong()});
    } else if (command == u"edit") {
        tablet.edit(word(1), word(2), at);
    } else if (command == u"seal") {
        tablet.seal(word(1), at);
    } else if (command == u"sync") {
        const TabletCompanion::PassResult result = tablet.sync();
        out << "stored " << result.stored.join(QLatin1Char(' ')) << "\nuploaded "
            << result.uploaded.join(QLatin1Char(' ')) << "\nskipped "
            << result.skipped.join(QLatin1Char(' ')) << '\n';
    } else if (command == u"show") {
        const auto page = tablet.readPageFile(word(1));
        if (!page)
            return 1;
        out << (page->sealed ? "sealed\n" : "draft\n") << page->content << '\n';
    } else if (command == u"unreadable") {
        tablet.makeUnreadable(word(1));
    } else if (command == u"readable") {
        tablet.makeReadable(word(1));
    } else if (command == u"vanish") {
        tablet.vanish();
    } else if (command == u"reappear") {
        tablet.reappear();
    } else {
        parser.showHelp(2);
    }
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "velmora-companion: %s\n", error.what());
        return 1;
    }
}
