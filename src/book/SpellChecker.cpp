#include "book/SpellChecker.h"

#include "book/BookLogging.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QThread>

#include <enchant.h>

namespace velmora {

namespace {

constexpr int checkedState = 1;

class MisspellingData : public QTextBlockUserData {
public:
    explicit MisspellingData(QList<WordRange> words)
        : words(std::move(words)) {}
    QList<WordRange> words;
};

// Hunspell's word lists spell contractions with the straight apostrophe.
QByteArray dictionaryForm(const QString &word) {
    QString form = word;
    form.replace(QChar(0x2019), QLatin1Char('\''));
    return form.toUtf8();
}

bool isCheckable(QStringView word) {
    bool hasLetter = false;
    for (const QChar c : word) {
        if (c.isDigit())
            return false;
        hasLetter = hasLetter || c.isLetter();
    }
    return hasLetter;
}

// Freeing a broker unloads Enchant's providers, and with them the code that owns their
// lifetime caches; one broker therefore serves the whole run and is never freed. Dictionaries
// are opened on workers, so every use of the broker holds its lock.
struct SharedBroker {
    QMutex mutex;
    EnchantBroker *broker = nullptr;
};

SharedBroker &sharedBroker() {
    static auto *shared = new SharedBroker;
    return *shared;
}

struct Waiter {
    QPointer<QObject> context;
    std::function<void(std::shared_ptr<SpellChecker>)> done;
};

struct SharedCheckers {
    QHash<QString, std::shared_ptr<SpellChecker>> opened;
    QHash<QString, QList<Waiter>> waiting;
};

SharedCheckers &sharedCheckers() {
    static SharedCheckers checkers;
    return checkers;
}

void deliverShared(const QString &key, const std::shared_ptr<SpellChecker> &checker) {
    SharedCheckers &shared = sharedCheckers();
    shared.opened.insert(key, checker);
    const QList<Waiter> waiters = shared.waiting.take(key);
    for (const Waiter &waiter : waiters) {
        if (waiter.context)
            waiter.done(checker);
    }
}

} // namespace

SpellChecker::SpellChecker(EnchantDict *dict, QString language)
    : m_dict(dict)
    , m_language(std::move(language)) {}

SpellChecker::~SpellChecker() {
    SharedBroker &shared = sharedBroker();
    const QMutexLocker lock(&shared.mutex);
    enchant_broker_free_dict(shared.broker, m_dict);
}

QStringList SpellChecker::languagesFor(const QLocale &locale) {
    QStringList languages;
    const QString name = locale.name();
    const auto add = [&languages](const QString &tag) {
        if (!tag.isEmpty() && tag != u"C" && !languages.contains(tag))
            languages.append(tag);
    };
    add(name);
    add(name.section(QLatin1Char('_'), 0, 0));
    add(QStringLiteral("en_US"));
    add(QStringLiteral("en"));
    return languages;
}

std::unique_ptr<SpellChecker> SpellChecker::open(const QStringList &languages) {
    SharedBroker &shared = sharedBroker();
    const QMutexLocker lock(&shared.mutex);
    if (!shared.broker)
        shared.broker = enchant_broker_init();
    EnchantBroker *broker = shared.broker;
    if (!broker) {
        qCWarning(lcBook) << "Spell checking is off: Enchant could not start";
        return nullptr;
    }
    for (const QString &language : languages) {
        const QByteArray tag = language.toUtf8();
        if (!enchant_broker_dict_exists(broker, tag.constData()))
            continue;
        if (EnchantDict *dict = enchant_broker_request_dict(broker, tag.constData()))
            return std::unique_ptr<SpellChecker>(new SpellChecker(dict, language));
        const char *error = enchant_broker_get_error(broker);
        qCWarning(lcBook) << "Could not open the spelling dictionary" << language << ":"
                          << (error ? error : "no reason given");
    }
    qCWarning(lcBook) << "Spell checking is off: no dictionary for" << languages;
    return nullptr;
}

void SpellChecker::openShared(const QStringList &languages, QObject *context,
                              std::function<void(std::shared_ptr<SpellChecker>)> done) {
    SharedCheckers &shared = sharedCheckers();
    const QString key = languages.join(QLatin1Char(','));
    if (auto found = shared.opened.find(key); found != shared.opened.end()) {
        done(*found);
        return;
    }
    const bool started = shared.waiting.contains(key);
    shared.waiting[key].append(Waiter{context, std::move(done)});
    if (started)
        return;
    // The worker only fills the result; the application's thread hands it out once the worker
    // has finished, and not at all when the application is already gone.
    auto result = std::make_shared<std::shared_ptr<SpellChecker>>();
    QThread *thread = QThread::create([languages, result] { *result = open(languages); });
    QObject::connect(thread, &QThread::finished, QCoreApplication::instance(),
                     [key, result] { deliverShared(key, *result); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::LowPriority);
}

bool SpellChecker::isMisspelled(const QString &word) {
    if (auto found = m_misspelled.constFind(word); found != m_misspelled.constEnd())
        return *found;
    const QByteArray form = dictionaryForm(word);
    const int answer = enchant_dict_check(m_dict, form.constData(), form.size());
    if (answer < 0) {
        const char *error = enchant_dict_get_error(m_dict);
        qCWarning(lcBook) << "Could not check a word:" << (error ? error : "no reason given");
    }
    const bool misspelled = answer > 0;
    m_misspelled.insert(word, misspelled);
    return misspelled;
}

QStringList SpellChecker::suggestions(const QString &word, int limit) {
    const QByteArray form = dictionaryForm(word);
    size_t count = 0;
    char **list = enchant_dict_suggest(m_dict, form.constData(), form.size(), &count);
    QStringList result;
    for (size_t i = 0; i < count && result.size() < limit; ++i)
        result.append(QString::fromUtf8(list[i]));
    if (list)
        enchant_dict_free_string_list(m_dict, list);
    return result;
}

void SpellChecker::addToDictionary(const QString &word) {
    const QByteArray form = dictionaryForm(word);
    enchant_dict_add(m_dict, form.constData(), form.size());
    m_misspelled.insert(word, false);
}

QList<WordRange> SpellChecker::words(const QString &text) {
    QList<WordRange> result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    qsizetype start = 0;
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary()) {
        if (isCheckable(QStringView(text).mid(start, next - start)))
            result.append(WordRange{start, next - start});
        start = next;
    }
    return result;
}

QList<WordRange> SpellChecker::misspellings(const QString &text) {
    QList<WordRange> result;
    for (const WordRange &word : words(text)) {
        if (isMisspelled(text.mid(word.start, word.length)))
            result.append(word);
    }
    return result;
}

SpellCheckHighlighter::SpellCheckHighlighter(QTextDocument *document)
    : QObject(document)
    , m_document(document) {
    m_sweep.setInterval(0);
    connect(&m_sweep, &QTimer::timeout, this, &SpellCheckHighlighter::sweepSlice);
    connect(document, &QTextDocument::contentsChange, this,
            &SpellCheckHighlighter::contentsChanged);
}

QList<WordRange> SpellCheckHighlighter::misspellings(const QTextBlock &block) {
    const auto *data = dynamic_cast<const MisspellingData *>(block.userData());
    return data ? data->words : QList<WordRange>();
}

void SpellCheckHighlighter::setSpellChecker(std::shared_ptr<SpellChecker> checker) {
    m_checker = std::move(checker);
    recheckAll();
}

void SpellCheckHighlighter::setEnabled(bool enabled) {
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    recheckAll();
}

void SpellCheckHighlighter::recheckAll() {
    if (!m_document)
        return;
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next())
        block.setUserState(-1);
    m_sweepBlock = 0;
    m_sweep.start();
}

void SpellCheckHighlighter::contentsChanged(int from, int removed, int added) {
    Q_UNUSED(removed);
    if (!m_document)
        return;
    QTextBlock block = m_document->findBlock(from);
    const QTextBlock last = m_document->findBlock(from + added);
    if (added > immediateCharacterLimit || !m_checker || !m_enabled) {
        for (; block.isValid(); block = block.next()) {
            block.setUserState(-1);
            // Old positions would underline the wrong letters until the sweep gets here.
            block.setUserData(nullptr);
            if (block == last)
                break;
        }
        m_sweepBlock = std::min(m_sweepBlock, m_document->findBlock(from).blockNumber());
        if (m_checker && m_enabled)
            m_sweep.start();
        return;
    }
    for (; block.isValid(); block = block.next()) {
        checkBlock(block);
        if (block == last)
            break;
    }
}

void SpellCheckHighlighter::checkBlock(const QTextBlock &block) {
    if (m_enabled && !m_checker)
        return;
    QList<WordRange> words;
    if (m_enabled)
        words = m_checker->misspellings(block.text());
    QTextBlock mutableBlock = block;
    mutableBlock.setUserState(checkedState);
    if (words == misspellings(block))
        return;
    mutableBlock.setUserData(words.isEmpty() ? nullptr : new MisspellingData(std::move(words)));
    Q_EMIT misspellingsChanged(block.position());
}

void SpellCheckHighlighter::sweepSlice() {
    if (!m_document || (m_enabled && !m_checker)) {
        m_sweep.stop();
        return;
    }
    QElapsedTimer slice;
    slice.start();
    QTextBlock block = m_document->findBlockByNumber(m_sweepBlock);
    for (; block.isValid() && slice.elapsed() < sliceMilliseconds; block = block.next()) {
        if (block.userState() != checkedState)
            checkBlock(block);
    }
    if (!block.isValid()) {
        m_sweep.stop();
        m_sweepBlock = m_document->blockCount();
        return;
    }
    m_sweepBlock = block.blockNumber();
}

} // namespace velmora
