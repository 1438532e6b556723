// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>

#include <optional>

namespace vexlo::diz::cp437 {

// Descriptions are DOS text: every byte is shown with its glyph of the DOS
// character set (code page 437), the way the description was drawn on the
// screen it was made for, and every glyph maps back to exactly one byte.
//
//   0x20-0x7E  ASCII
//   0x80-0xFF  the DOS letters, symbols and box-drawing characters
//              (0xFF, the DOS blank, is U+00A0 NO-BREAK SPACE)
//   0x01-0x1F  the DOS symbols for control bytes: ☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼
//   0x7F       ⌂
//   0x00       ␀ (U+2400 SYMBOL FOR NULL)
//
// DOS drew 0x00 as an empty cell, but every blank-looking character is taken
// (0x20, 0xFF) and U+0000 cannot live in a text box. A blank stand-in would be
// a trap: it looks like a space and is no space. So the NUL byte gets the one
// glyph outside the DOS set, a visible one: a stray NUL shows up and can be
// deleted, and an untouched one goes back into the file as 0x00.

// The glyph of one byte (0x0A gives ◙ and 0x0D gives ♪: the byte glyphs,
// without any line handling).
QChar glyph(uchar byte);
// The byte whose glyph is ch, or -1 when the DOS set has no such character.
int byteOf(QChar ch);

// Box text, as a multi-line text box holds it: each CR LF pair of the bytes
// becomes one '\n'. A CR or LF that is not part of such a pair keeps its
// byte glyph (♪ for a lone CR, ◙ for a lone LF), so decoding never loses a
// byte and never produces a '\r' (text boxes turn a lone '\r' into a line
// break of their own).
QString boxTextFromBytes(const QByteArray& bytes);

// True for the characters that end a line in box text: '\n', '\r' (a "\r\n"
// pair counts once), U+2028 and U+2029 (the separators text documents keep
// between lines and paragraphs).
bool isLineBreak(QChar ch);

// The bytes of box text: every line break becomes CR LF, every other
// character its byte. Nothing when the text holds a character the DOS set
// cannot hold; then canEncode() says where. bytesFromBoxText(boxTextFromBytes(b))
// is b for every byte string b. (The glyph pair ♪◙ typed into the box is the
// byte pair CR LF, which reads back as a line break.)
std::optional<QByteArray> bytesFromBoxText(const QString& text);

// True when every character of the text is a DOS glyph or a line break.
// Otherwise false, with the UTF-16 index of the first character that is not
// in firstBadPos (when given).
bool canEncode(const QString& text, int* firstBadPos = nullptr);

// For a text box's input filter. The DOS set must never be left silently:
// a character it cannot hold is refused when it is typed or pasted, never
// replaced by a look-alike or dropped. Pasted, dropped and input-method text
// goes through canEncode(). Key text goes through isTypingAccepted(), which
// leaves the editing keys alone (Backspace, Delete, Enter and Escape produce
// control characters that the box does not insert) but refuses Tab and
// anything printable outside the DOS set.
bool isTypingAccepted(const QString& keyText);

// A one-line English explanation of why the character at pos cannot be
// stored, naming it, its code point and its line and column (from 1), e.g.
// "the character “€” (U+20AC) in line 2, column 5 is not in the DOS character set".
QString unencodableText(const QString& text, int pos);

// Descriptions for a terminal or a script (the command line's --utf8): every
// byte becomes its DOS glyph in UTF-8, except TAB, LF and CR, which lay the
// text out and stay themselves. dosBytesFromUtf8(utf8FromDosBytes(b)) is b
// for every byte string b.
QByteArray utf8FromDosBytes(const QByteArray& bytes);

// The DOS bytes of UTF-8 text: TAB, LF and CR as themselves, every other
// character its byte. Nothing when the text holds a character the DOS set
// cannot hold or bytes that are not UTF-8; then refusal (when given) says
// which and where, e.g. "the byte 0xFF in line 1, column 3 is not valid
// UTF-8" or unencodableText()'s line.
std::optional<QByteArray> dosBytesFromUtf8(const QByteArray& utf8, QString* refusal = nullptr);

} // namespace vexlo::diz::cp437
