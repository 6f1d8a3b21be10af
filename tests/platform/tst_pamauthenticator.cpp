#include "platform/SystemAuthenticator.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <unistd.h>

using namespace velmora;

namespace {

const char *const pamWrapperLibrary = "/usr/lib/x86_64-linux-gnu/libpam_wrapper.so";
const char *const pamModules = "/usr/lib/x86_64-linux-gnu/pam_wrapper";

// Answers each question from a script, as a person at the dialog would.
class ScriptedConversation : public AuthenticationConversation {
public:
    QList<std::optional<QString>> answers;
    QStringList prompts;
    QStringList messages;
    QString reason;
    bool finished = false;
    // Keeps the question open instead of answering it.
    bool holds = false;
    Answer held;

    void begin(const QString &text) override { reason = text; }
    void ask(const QString &prompt, bool, Answer answer) override {
        prompts.append(prompt);
        if (holds)
            held = std::move(answer);
        else
            answer(answers.isEmpty() ? std::nullopt : answers.takeFirst());
    }
    void tell(const QString &message, bool) override { messages.append(message); }
    void finish() override { finished = true; }
};

std::shared_ptr<AuthenticationConversation> borrowed(AuthenticationConversation &conversation) {
    return {&conversation, [](AuthenticationConversation *) {}};
}

QCoro::Task<void> recordOutcome(QCoro::Task<void> task, std::optional<AuthenticationError> *error,
                                bool *done) {
    try {
        co_await std::move(task);
    } catch (const AuthenticationError &thrown) {
        *error = thrown;
    }
    *done = true;
}

} // namespace

// Runs real PAM transactions against a service file of its own, through pam_wrapper's
// pam_matrix module, so no account of the machine is involved.
class PamAuthenticatorTest : public QObject {
    Q_OBJECT

    void run(const QString &service, const QString &user,
             const QList<std::optional<QString>> &answers, const QString &failure,
             ScriptedConversation &conversation) {
        conversation.answers = answers;
        PamAuthenticator authenticator(std::shared_ptr<AuthenticationConversation>(
                                           &conversation, [](AuthenticationConversation *) {}),
                                       service, user);
        QVERIFY(authenticator.canAuthenticate());
        const auto error = test::thrownBy<AuthenticationError>([&] {
            test::waitFor(authenticator.authenticate(QStringLiteral("Unlock your diary")));
        });
        QCOMPARE(error ? error->message() : QString(), failure);
        QCOMPARE(conversation.reason, QStringLiteral("Unlock your diary"));
        QVERIFY(conversation.finished);
    }

private Q_SLOTS:
    void answers_data() {
        QTest::addColumn<QList<std::optional<QString>>>("answers");
        QTest::addColumn<QString>("failure");
        using Answers = QList<std::optional<QString>>;
        QTest::newRow("right password") << Answers{QStringLiteral("correct horse")} << QString();
        QTest::newRow("wrong password")
            << Answers{QStringLiteral("battery staple")} << "Authentication failed.";
        QTest::newRow("cancelled") << Answers{std::nullopt} << "Authentication was canceled.";
    }

    void answers() {
        QFETCH(QList<std::optional<QString>>, answers);
        QFETCH(QString, failure);
        ScriptedConversation conversation;
        run(QStringLiteral("velmora"), QStringLiteral("diarist"), answers, failure, conversation);
        QCOMPARE(conversation.prompts.size(), 1);
    }

    void messagesReachTheDialog() {
        // pam_chatty speaks before the password is asked for, as a fingerprint reader does.
        ScriptedConversation conversation;
        run(QStringLiteral("velmora-chatty"), QStringLiteral("chatter"),
            {QStringLiteral("correct horse")}, QString(), conversation);
        QVERIFY(test::waitUntil([&] { return !conversation.messages.isEmpty(); }));
    }

    // Where the system cannot ask at all the unlock says so and stays shut; it used to open
    // without a question.
    void unavailable_data() {
        QTest::addColumn<QString>("service");
        QTest::addColumn<QString>("user");
        QTest::newRow("unknown service") << "velmora-missing"
                                         << "diarist";
        QTest::newRow("account without an entry") << "velmora" << QString();
    }

    void unavailable() {
        QFETCH(QString, service);
        QFETCH(QString, user);
        ScriptedConversation conversation;
        PamAuthenticator authenticator(borrowed(conversation), service, user,
                                       [] { return QString(); });
        QVERIFY(authenticator.canAuthenticate());
        const auto error = test::thrownBy<AuthenticationError>([&] {
            test::waitFor(authenticator.authenticate(QStringLiteral("Unlock your diary")));
        });
        QVERIFY(error);
        QCOMPARE(error->kind(), AuthenticationError::Case::unavailable);
        QCOMPARE(error->message(), QStringLiteral("System authentication is unavailable."));
        QVERIFY(conversation.prompts.isEmpty());
        QVERIFY(conversation.finished);
    }

    // A question nobody will answer any more ends the transaction as cancelled, instead of
    // leaving its worker, and so the program, waiting for ever.
    void abandonedQuestions_data() {
        QTest::addColumn<bool>("quitting");
        QTest::newRow("the program quits") << true;
        QTest::newRow("the dialog lets go of it") << false;
    }

    void abandonedQuestions() {
        QFETCH(bool, quitting);
        ScriptedConversation conversation;
        conversation.holds = true;
        PamAuthenticator authenticator(borrowed(conversation), QStringLiteral("velmora"),
                                       QStringLiteral("diarist"));
        std::optional<AuthenticationError> error;
        bool done = false;
        QCoro::Task<void> running = recordOutcome(
            authenticator.authenticate(QStringLiteral("Unlock your diary")), &error, &done);
        QVERIFY(test::waitUntil([&] { return bool(conversation.held); }));
        if (quitting)
            authenticator.cancelPending();
        else
            conversation.held = {};
        QVERIFY(test::waitUntil([&] { return done; }));
        QVERIFY(error);
        QCOMPARE(error->kind(), AuthenticationError::Case::canceled);
    }
};

// pam_wrapper reads its service folder once, when it is loaded, and must be loaded before
// anything else: write the services, then start again with it preloaded.
void restartUnderPamWrapper(char **argv) {
    QTemporaryDir folder;
    folder.setAutoRemove(false);
    const QString passdb = folder.filePath(QStringLiteral("passdb"));
    QDir(folder.path()).mkdir(QStringLiteral("services"));
    auto write = [](const QString &path, const QString &text) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
            qFatal("cannot write %s", qPrintable(path));
    };
    write(passdb,
          QStringLiteral("diarist:correct horse:velmora\nchatter:correct horse:velmora-chatty\n"));
    const QString matrix = QStringLiteral("auth required %1/pam_matrix.so passdb=%2\n"
                                          "account required %1/pam_matrix.so passdb=%2\n")
                               .arg(QString::fromLatin1(pamModules), passdb);
    write(folder.filePath(QStringLiteral("services/velmora")), matrix);
    write(folder.filePath(QStringLiteral("services/velmora-chatty")),
          QStringLiteral("auth optional %1/pam_chatty.so info num_lines=1\n")
                  .arg(QString::fromLatin1(pamModules)) +
              matrix);
    qputenv("VELMORA_PAM_TEST_FOLDER", folder.path().toLocal8Bit());
    qputenv("PAM_WRAPPER", "1");
    qputenv("PAM_WRAPPER_SERVICE_DIR", folder.filePath(QStringLiteral("services")).toLocal8Bit());
    // The sanitizers refuse libraries opened with RTLD_DEEPBIND, which pam_wrapper uses.
    qputenv("UID_WRAPPER_DISABLE_DEEPBIND", "1");
    qputenv("LD_PRELOAD", pamWrapperLibrary);
    // pam_matrix, unlike the system's modules, never frees the answers it is given, and it is
    // unloaded before the leak check could name it.
    qputenv("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
    execv("/proc/self/exe", argv);
    qFatal("could not restart with pam_wrapper: %s", strerror(errno));
}

int main(int argc, char **argv) {
    if (!qEnvironmentVariableIsSet("PAM_WRAPPER"))
        restartUnderPamWrapper(argv);
    velmora::test::prepareTestEnvironment();
    QCoreApplication app(argc, argv);
    PamAuthenticatorTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    const int result = QTest::qExec(&test, argc, argv);
    QDir(qEnvironmentVariable("VELMORA_PAM_TEST_FOLDER")).removeRecursively();
    return result;
}

#include "tst_pamauthenticator.moc"
