// SPDX-License-Identifier: MIT
#include "shell/DescriptionBox.h"

#include "diz/Cp437.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>

namespace vexlo {

namespace cp437 = diz::cp437;

DescriptionBox::DescriptionBox(QWidget* parent) : QPlainTextEdit(parent) {}

QString DescriptionBox::rawText() const
{
    return document()->toRawText();
}

void DescriptionBox::showNotice(const QString& text)
{
    emit noticeShown(text);
    QToolTip::showText(mapToGlobal(QPoint(4, 4)), text, this);
}

QString DescriptionBox::refusalText(const QString& text, int bad, int at) const
{
    // The place is the one in the box: the character's line and column had
    // it gone in at position at, not its place in the text that brought it.
    const QString before = rawText().left(at);
    return cp437::unencodableText(before + text, int(before.size()) + bad);
}

void DescriptionBox::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool editing = event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) ||
                         event->matches(QKeySequence::Copy) || event->matches(QKeySequence::Undo) ||
                         event->matches(QKeySequence::Redo);
    // Ctrl and Ctrl+Shift keys are shortcuts whose text the box never
    // inserts; with any other modifiers (AltGr arrives as Ctrl+Alt on some
    // systems, the Option key as Alt) the text goes in, so it is checked.
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool shortcut =
        mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier);
    if (!editing && !shortcut && !text.isEmpty() && !cp437::isTypingAccepted(text)) {
        int bad = 0;
        if (!cp437::canEncode(text, &bad))
            showNotice(refusalText(text, bad, textCursor().selectionStart()));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void DescriptionBox::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    int bad = 0;
    if (!commit.isEmpty() && !cp437::canEncode(commit, &bad)) {
        // The commit replaces the selection, or text next to the cursor.
        const int at = event->replacementLength() > 0
                           ? textCursor().position() + event->replacementStart()
                           : textCursor().selectionStart();
        showNotice(refusalText(commit, bad, std::max(0, at)));
        QInputMethodEvent dropped(event->preeditString(), event->attributes());
        QPlainTextEdit::inputMethodEvent(&dropped);
        return;
    }
    QPlainTextEdit::inputMethodEvent(event);
}

bool DescriptionBox::canInsertFromMimeData(const QMimeData* source) const
{
    return source->hasText();
}

void DescriptionBox::insertFromMimeData(const QMimeData* source)
{
    if (!source->hasText())
        return;
    const QString text = source->text();
    int bad = 0;
    if (!cp437::canEncode(text, &bad)) {
        showNotice(refusalText(text, bad, textCursor().selectionStart()));
        return;
    }
    // Plain text only: never rich text, whose look-alike characters and
    // paragraph marks could reach the archive.
    textCursor().insertText(text);
    ensureCursorVisible();
}

} // namespace vexlo
