#pragma once

#include <QHash>
#include <QList>
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTextBlockUserData>
#include <QTimer>

#include <functional>
#include <memory>

class QTextBlock;
class QTextDocument;

typedef struct str_enchant_broker EnchantBroker;
typedef struct str_enchant_dict EnchantDict;

namespace velmora {

// One word of a text, in UTF-16 units.
struct WordRange {
    qsizetype start = 0;
    qsizetype length = 0;

    friend bool operator==(const WordRange &, const WordRange &) = default;
};

// An Enchant dictionary with a cache of its answers, used on the GUI thread only once opened.
class SpellChecker {
public:
    ~SpellChecker();
    SpellChecker(const SpellChecker &) = delete;
    SpellChecker &operator=(const SpellChecker &) = delete;

    // The dictionaries to try for a locale, best first: the locale's own, its language, English.
    static QStringList languagesFor(const QLocale &locale);

    // Opens the first dictionary of `languages` that Enchant has; null when none. Reads the
    // dictionary from disk, so it belongs off the GUI thread (see openShared).
    static std::unique_ptr<SpellChecker> open(const QStringList &languages);

    // Hands the checker for `languages` to `done` on `context`'s thread. Each language list is
    // opened once per run on a worker thread and then shared; `done` is not called when the
    // context is gone, and gets null when no dictionary exists.
    static void openShared(const QStringList &languages, QObject *context,
                           std::function<void(std::shared_ptr<SpellChecker>)> done);

    QString language() const { return m_language; }
    bool isMisspelled(const QString &word);
    QStringList suggestions(const QString &word, int limit = 6);
    // Into the user's personal word list, for this and later runs.
    void addToDictionary(const QString &word);

    // The words of a text that the dictionary does not know. Numbers and words without a
    // letter are skipped.
    QList<WordRange> misspellings(const QString &text);
    static QList<WordRange> words(const QString &text);

private:
    SpellChecker(EnchantDict *dict, QString language);

    EnchantDict *m_dict;
    QString m_language;
    QHash<QString, bool> m_misspelled;
};

// Finds the misspelled words of a document and keeps them with each block, for the view to
// underline. They are never text formats: a format boundary splits shaping runs, which can move
// a line break away from the paginator's. A change checks the blocks it touched at once; a new
// text or a new dictionary is checked in short slices between events, so no keystroke ever
// waits for the whole document.
class SpellCheckHighlighter : public QObject {
    Q_OBJECT

public:
    explicit SpellCheckHighlighter(QTextDocument *document);

    // The misspelled words of a block as last checked.
    static QList<WordRange> misspellings(const QTextBlock &block);

    void setSpellChecker(std::shared_ptr<SpellChecker> checker);
    SpellChecker *spellChecker() const { return m_checker.get(); }

    // Off, the underlines go away and nothing is checked: a page that cannot change is read, not
    // proofread.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

    // Checks every block again, a slice at a time.
    void recheckAll();
    bool isSweeping() const { return m_sweep.isActive(); }

    // More than this many characters changed at once are checked by the sweep.
    static constexpr int immediateCharacterLimit = 4000;
    static constexpr int sliceMilliseconds = 4;

Q_SIGNALS:
    // The misspellings of the block at this position changed.
    void misspellingsChanged(int blockPosition);

private:
    void contentsChanged(int from, int removed, int added);
    void checkBlock(const QTextBlock &block);
    void sweepSlice();

    QPointer<QTextDocument> m_document;
    std::shared_ptr<SpellChecker> m_checker;
    QTimer m_sweep;
    int m_sweepBlock = 0;
    bool m_enabled = true;
};

} // namespace velmora
