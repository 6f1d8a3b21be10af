#include "DiaryGenerator.h"
#include "book/MacRuledTextView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <QTextEdit>

#include <algorithm>

using namespace velmora;

namespace {

// A long entry: 20,000 characters of the generator's diary prose.
QString longEntry() {
    QRandomGenerator random(20260107);
    return bench::generateProse(random, 24000).left(20000);
}

void settle(QWidget &editor) {
    editor.show();
    if (!QTest::qWaitForWindowExposed(&editor))
        qFatal("The editor was never shown");
    QCoreApplication::processEvents();
}

// Types one letter in the middle of the entry, then lets the editor repaint what changed; the
// counter median_ms is the median of the single keystrokes.
void typeInTheMiddle(benchmark::State &state, QTextEdit &editor) {
    QTextCursor cursor = editor.textCursor();
    cursor.setPosition(10000);
    editor.setTextCursor(cursor);
    editor.ensureCursorVisible();
    QCoreApplication::processEvents();
    QList<double> milliseconds;
    QElapsedTimer timer;
    for (auto _ : state) {
        timer.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_E, Qt::NoModifier, QStringLiteral("e"));
        QApplication::sendEvent(&editor, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_E, Qt::NoModifier, QStringLiteral("e"));
        QApplication::sendEvent(&editor, &release);
        QCoreApplication::processEvents();
        milliseconds.append(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    if (!milliseconds.isEmpty())
        state.counters["median_ms"] = milliseconds[milliseconds.size() / 2];
}

void BM_EditorKeystroke(benchmark::State &state) {
    MacRuledTextView editor;
    editor.resize(696, 840);
    editor.setFontAndLineHeight(resolveDiaryFont(QStringLiteral("Georgia"), 16), 40);
    editor.setSpellCheckLanguages({QStringLiteral("en_US")});
    editor.setText(longEntry());
    settle(editor);
    if (!QTest::qWaitFor([&] { return !editor.isSpellCheckPending(); }, 30000))
        qFatal("Spell checking never finished");
    typeInTheMiddle(state, editor);
}
BENCHMARK(BM_EditorKeystroke)->Unit(benchmark::kMillisecond)->Iterations(400);

// The baseline: a plain QTextEdit holding the same text at the same size, in the same font with
// glyphs as large as the ruled editor's (which lays out at 72 dpi, one point to a pixel).
void BM_PlainTextEditKeystroke(benchmark::State &state) {
    QTextEdit editor;
    editor.resize(696, 840);
    QFont font = resolveDiaryFont(QStringLiteral("Georgia"), 16);
    font.setPixelSize(16);
    editor.setFont(font);
    editor.setPlainText(longEntry());
    settle(editor);
    typeInTheMiddle(state, editor);
}
BENCHMARK(BM_PlainTextEditKeystroke)->Unit(benchmark::kMillisecond)->Iterations(400);

} // namespace
