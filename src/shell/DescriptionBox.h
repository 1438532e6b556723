// SPDX-License-Identifier: MIT
#pragma once

#include <QPlainTextEdit>

namespace vexlo {

// The description box: a plain text box that only takes characters the DOS
// character set can hold. A key, paste, drop or input-method text that holds
// any other character is refused as a whole, with a note beside the box:
// nothing is ever replaced or dropped silently.
class DescriptionBox : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit DescriptionBox(QWidget* parent = nullptr);

    // The text as the document keeps it (line breaks, and U+00A0, untouched).
    QString rawText() const;
    // Shows a short note next to the box.
    void showNotice(const QString& text);

signals:
    void noticeShown(const QString& text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // The notice for text whose character at bad the DOS set cannot hold,
    // were the text to go into the box at position at.
    QString refusalText(const QString& text, int bad, int at) const;
};

} // namespace vexlo
