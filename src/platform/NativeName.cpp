// SPDX-License-Identifier: MIT
#include "platform/NativeName.h"

namespace vexlo::platform {

namespace {

// Length of the valid UTF-8 sequence starting at p (1 to 4), or 0 when the
// bytes there are not valid UTF-8 (overlong forms and surrogates included).
int validSequenceLength(const unsigned char* p, qsizetype left)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    int len = 0;
    char32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF)
        return 0;
    return len;
}

} // namespace

QString decodeName(const QByteArray& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    bool plain = true;
    for (qsizetype i = 0; i < n; ++i) {
        if (p[i] >= 0x80) {
            plain = false;
            break;
        }
    }
    if (plain)
        return QString::fromLatin1(bytes);

    QString out;
    out.reserve(n);
    qsizetype i = 0;
    while (i < n) {
        const int len = validSequenceLength(p + i, n - i);
        if (len == 0) {
            out.append(QChar(char16_t(0xDC00 + p[i])));
            ++i;
        } else {
            out.append(QString::fromUtf8(bytes.constData() + i, len));
            i += len;
        }
    }
    return out;
}

QByteArray encodeName(const QString& name)
{
    QByteArray out;
    out.reserve(name.size());
    const qsizetype n = name.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = name.at(i).unicode();
        const bool loneLow = u >= 0xDC80 && u <= 0xDCFF &&
                             (i == 0 || !QChar::isHighSurrogate(name.at(i - 1).unicode()));
        if (loneLow) {
            out.append(QStringView(name).mid(start, i - start).toUtf8());
            out.append(char(u - 0xDC00));
            start = i + 1;
        }
    }
    out.append(QStringView(name).mid(start).toUtf8());
    return out;
}

} // namespace vexlo::platform
