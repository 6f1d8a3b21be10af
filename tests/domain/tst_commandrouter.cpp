#include "domain/DiaryCommand.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <memory>

using namespace velmora;

namespace {

class RecordingHandler : public QObject, public DiaryCommandHandler {
public:
    QList<DiaryCommand> received;
    void handle(DiaryCommand command) override { received.append(command); }
};

} // namespace

class CommandRouterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rawValues_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<DiaryCommand>>("command");
        QTest::newRow("first") << "newEntry" << std::optional(DiaryCommand::newEntry);
        QTest::newRow("last") << "showShortcuts" << std::optional(DiaryCommand::showShortcuts);
        QTest::newRow("wrong case") << "NewEntry" << std::optional<DiaryCommand>();
        QTest::newRow("empty") << "" << std::optional<DiaryCommand>();
    }

    void rawValues() {
        QFETCH(QString, text);
        QFETCH(std::optional<DiaryCommand>, command);
        QCOMPARE(fromRawValue<DiaryCommand>(text), command);
        if (command)
            QCOMPARE(rawValue(*command), text);
        QCOMPARE(allCases<DiaryCommand>().size(), 7u);
    }

    void everySendIsANewEventBeforeTheHandlerHearsIt() {
        DiaryCommandRouter router;
        RecordingHandler handler;
        router.setHandler(&handler);
        QList<int> handledWhenObserved;
        connect(&router, &DiaryCommandRouter::lastEventChanged, this,
                [&] { handledWhenObserved.append(int(handler.received.size())); });

        router.send(DiaryCommand::save);
        const auto first = router.lastEvent();
        router.send(DiaryCommand::save);
        QCOMPARE(router.lastEvent()->command, DiaryCommand::save);
        QVERIFY(router.lastEvent()->id != first->id);
        QCOMPARE(handledWhenObserved, (QList<int>{0, 1}));
        QCOMPARE(handler.received, (QList<DiaryCommand>{DiaryCommand::save, DiaryCommand::save}));
    }

    void aReleasedHandlerIsNotKeptAlive() {
        DiaryCommandRouter router;
        QSignalSpy events(&router, &DiaryCommandRouter::lastEventChanged);
        router.send(DiaryCommand::find);
        auto handler = std::make_unique<RecordingHandler>();
        router.setHandler(handler.get());
        handler.reset();
        QCOMPARE(router.handler(), nullptr);
        router.send(DiaryCommand::goToToday);
        QCOMPARE(events.size(), 2);
        QCOMPARE(router.lastEvent()->command, DiaryCommand::goToToday);
    }

    // A view that appears receives the router's current event; each consumer acts on it once.
    void eachConsumerClaimsAnEventOnce() {
        DiaryCommandRouter router;
        router.send(DiaryCommand::newEntry);
        const auto sentBeforeTheViewAppeared = *router.lastEvent();
        QVERIFY(router.claim(QStringLiteral("page"), sentBeforeTheViewAppeared));
        QVERIFY(!router.claim(QStringLiteral("page"), sentBeforeTheViewAppeared));
        QVERIFY(router.claim(QStringLiteral("root"), sentBeforeTheViewAppeared));

        router.send(DiaryCommand::newEntry);
        QVERIFY(router.claim(QStringLiteral("page"), *router.lastEvent()));
        QVERIFY(!router.claim(QStringLiteral("page"), *router.lastEvent()));
    }
};

VELMORA_TEST_MAIN(CommandRouterTest)
#include "tst_commandrouter.moc"
