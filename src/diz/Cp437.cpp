// SPDX-License-Identifier: MIT
#include "diz/Cp437.h"

#include "platform/NativeName.h"

#include <QHash>

#include <array>

namespace vexlo::diz::cp437 {

namespace {

constexpr char16_t kNulGlyph = 0x2400;

// Glyphs of the control bytes 0x00-0x1F.
constexpr std::array<char16_t, 32> kLow = {
    kNulGlyph, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, // 00-07
    0x25D8,    0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C, // 08-0F
    0x25BA,    0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8, // 10-17
    0x2191,    0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC, // 18-1F
};

// Glyphs of 0x80-0xFF.
constexpr std::array<char16_t, 128> kHigh = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0, // F8
};

constexpr char16_t kHouse = 0x2302; // 0x7F

char16_t glyphOf(uchar byte)
{
    if (byte < 0x20)
        return kLow[byte];
    if (byte < 0x7F)
        return char16_t(byte);
    if (byte == 0x7F)
        return kHouse;
    return kHigh[byte - 0x80];
}

const QHash<char16_t, uchar>& reverseTable()
{
    static const QHash<char16_t, uchar> table = [] {
        QHash<char16_t, uchar> out;
        out.reserve(256);
        for (int b = 0; b < 256; ++b)
            out.insert(glyphOf(uchar(b)), uchar(b));
        return out;
    }();
    return table;
}

constexpr char16_t kLineSeparator = 0x2028;
constexpr char16_t kParagraphSeparator = 0x2029;

} // namespace

QChar glyph(uchar byte)
{
    return QChar(glyphOf(byte));
}

int byteOf(QChar ch)
{
    const char16_t u = ch.unicode();
    if (u >= 0x20 && u < 0x7F)
        return int(u);
    const auto& table = reverseTable();
    const auto it = table.constFind(u);
    return it == table.constEnd() ? -1 : int(it.value());
}

bool isLineBreak(QChar ch)
{
    const char16_t u = ch.unicode();
    return u == u'\n' || u == u'\r' || u == kLineSeparator || u == kParagraphSeparator;
}

QString boxTextFromBytes(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const uchar b = uchar(bytes[i]);
        if (b == 0x0D && i + 1 < n && bytes[i + 1] == '\n') {
            out.append(u'\n');
            ++i;
        } else {
            out.append(QChar(glyphOf(b)));
        }
    }
    return out;
}

std::optional<QByteArray> bytesFromBoxText(const QString& text)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 16);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text[i];
        if (isLineBreak(ch)) {
            if (ch == u'\r' && i + 1 < n && text[i + 1] == u'\n')
                ++i;
            out.append("\r\n", 2);
            continue;
        }
        const int b = byteOf(ch);
        if (b < 0)
            return std::nullopt;
        out.append(char(b));
    }
    return out;
}

bool canEncode(const QString& text, int* firstBadPos)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (!isLineBreak(ch) && byteOf(ch) < 0) {
            if (firstBadPos)
                *firstBadPos = int(i);
            return false;
        }
    }
    if (firstBadPos)
        *firstBadPos = -1;
    return true;
}

bool isTypingAccepted(const QString& keyText)
{
    if (keyText.isEmpty())
        return true;
    const QChar first = keyText.front();
    if (first != u'\t' && (first.unicode() < 0x20 || first.unicode() == 0x7F))
        return true; // an editing key, not text to insert
    return canEncode(keyText);
}

namespace {

// The line and column (from 1) of the character at pos, as a reader counts
// them: a line break of any kind (CR LF once) starts a line, a surrogate
// pair is one character.
void positionOf(const QString& text, int pos, int& line, int& column)
{
    line = 1;
    column = 1;
    for (int i = 0; i < pos; ++i) {
        const QChar ch = text[i];
        if (isLineBreak(ch)) {
            if (ch == u'\r' && i + 1 < pos && text[i + 1] == u'\n')
                ++i;
            ++line;
            column = 1;
        } else if (!(ch.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())) {
            ++column;
        }
    }
}

// Lay-out bytes that a terminal and an editor use as they are: in UTF-8
// text they stand for themselves, not for their DOS glyphs.
bool isLayoutByte(uint code)
{
    return code == u'\t' || code == u'\n' || code == u'\r';
}

} // namespace

QString unencodableText(const QString& text, int pos)
{
    if (pos < 0 || pos >= text.size())
        return QString();
    int line = 1;
    int column = 1;
    positionOf(text, pos, line, column);
    char32_t code = text[pos].unicode();
    QString shown(text[pos]);
    if (text[pos].isHighSurrogate() && pos + 1 < text.size() && text[pos + 1].isLowSurrogate()) {
        code = QChar::surrogateToUcs4(text[pos], text[pos + 1]);
        shown.append(text[pos + 1]);
    }
    if (code < 0x20 || (code >= 0x7F && code < 0xA0) || QChar::isSurrogate(code))
        shown.clear(); // nothing worth showing between the quotes
    const QString codeText = QStringLiteral("U+%1")
                                 .arg(quint32(code), code > 0xFFFF ? 5 : 4, 16, QLatin1Char('0'))
                                 .toUpper();
    const QString what =
        shown.isEmpty() ? QStringLiteral("the character %1").arg(codeText)
                        : QStringLiteral("the character \u201C%1\u201D (%2)").arg(shown, codeText);
    return QStringLiteral("%1 in line %2, column %3 is not in the DOS character set")
        .arg(what)
        .arg(line)
        .arg(column);
}

QByteArray utf8FromDosBytes(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const uchar b = uchar(c);
        text.append(isLayoutByte(b) ? QChar(b) : QChar(glyphOf(b)));
    }
    return text.toUtf8();
}

std::optional<QByteArray> dosBytesFromUtf8(const QByteArray& utf8, QString* refusal)
{
    // Invalid bytes become lone surrogates U+DC80..U+DCFF (NativeName.h), so
    // a bad byte is found, and placed, in the same pass as a bad character.
    const QString text = platform::decodeName(utf8);
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        const int byte = isLayoutByte(ch.unicode()) ? int(ch.unicode()) : byteOf(ch);
        if (byte >= 0) {
            out.append(char(byte));
            continue;
        }
        if (refusal) {
            const bool badByte = ch.unicode() >= 0xDC80 && ch.unicode() <= 0xDCFF &&
                                 (i == 0 || !text[i - 1].isHighSurrogate());
            if (badByte) {
                int line = 1;
                int column = 1;
                positionOf(text, int(i), line, column);
                *refusal = QStringLiteral("the byte 0x%1 in line %2, column %3 is not valid UTF-8")
                               .arg(QString::number(ch.unicode() - 0xDC00, 16).toUpper())
                               .arg(line)
                               .arg(column);
            } else {
                *refusal = unencodableText(text, int(i));
            }
        }
        return std::nullopt;
    }
    return out;
}

} // namespace vexlo::diz::cp437
