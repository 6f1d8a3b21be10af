#pragma once

#include "book/MacRuledTextView.h"

#include <QAbstractTextDocumentLayout>
#include <QList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

namespace velmora::test {

// Every line's baseline, top to bottom, in document coordinates, as the editor lays it out.
inline QList<double> editorBaselines(MacRuledTextView &editor) {
    QTextDocument *doc = editor.document();
    QAbstractTextDocumentLayout *layout = doc->documentLayout();
    layout->blockBoundingRect(doc->lastBlock());
    QList<double> result;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QRectF rect = layout->blockBoundingRect(block);
        const QTextLayout *lines = block.layout();
        for (int i = 0; i < lines->lineCount(); ++i) {
            const QTextLine line = lines->lineAt(i);
            result.append(rect.top() + line.y() + line.ascent());
        }
    }
    return result;
}

// The line of the caret's position, counted over the whole text from 0.
inline int editorLineOfCaret(MacRuledTextView &editor) {
    const int position = editor.textCursor().position();
    int counted = 0;
    for (QTextBlock block = editor.document()->begin(); block.isValid(); block = block.next()) {
        const QTextLayout *lines = block.layout();
        if (block.contains(position) || !block.next().isValid()) {
            const QTextLine line = lines->lineForTextPosition(position - block.position());
            return counted + (line.isValid() ? line.lineNumber() : lines->lineCount() - 1);
        }
        counted += lines->lineCount();
    }
    return 0;
}

} // namespace velmora::test
