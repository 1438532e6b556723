// SPDX-License-Identifier: MIT
#include "platform/ShortName.h"

#include "platform/FileSystem.h"
#include "platform/NameOrder.h"
#include "platform/Paths.h"

#include <QSet>
#include <QStringView>

#include <vector>

namespace vexlo::platform {

namespace {

constexpr int kBasisLength = 8;
constexpr int kExtensionLength = 3;
const QLatin1String kShortNameSymbols("$%'-_@~`!(){}^#&");

bool isShortNameChar(char32_t c)
{
    if (c >= 0x80)
        return false;
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
        return true;
    return kShortNameSymbols.contains(QChar(char16_t(c)));
}

// One character of an alias for each code point: valid ones upper-cased,
// everything else "_". A lone surrogate (an undecodable name byte) is one
// code point here too.
QString aliasChars(QStringView text)
{
    QString out;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (!isShortNameChar(c))
            out.append(u'_');
        else
            out.append(QChar(char16_t(c)).toUpper());
    }
    return out;
}

struct AliasParts {
    QString basis;
    QString extension;
};

AliasParts aliasParts(const QString& name)
{
    QString text = name;
    text.remove(u' ');
    qsizetype lead = 0;
    while (lead < text.size() && text.at(lead) == u'.')
        ++lead;
    text = text.mid(lead);
    const qsizetype dot = text.lastIndexOf(u'.');
    QString base = dot < 0 ? text : text.left(dot);
    const QString ext = dot < 0 ? QString() : text.mid(dot + 1);
    base.remove(u'.');
    AliasParts parts;
    parts.basis = aliasChars(base);
    parts.extension = aliasChars(ext).left(kExtensionLength);
    if (parts.basis.isEmpty())
        parts.basis = QStringLiteral("_");
    return parts;
}

QString withTail(const AliasParts& parts, int number)
{
    const QString tail = u'~' + QString::number(number);
    const qsizetype keep = qMax<qsizetype>(1, kBasisLength - tail.size());
    QString alias = parts.basis.left(keep) + tail;
    if (!parts.extension.isEmpty())
        alias += u'.' + parts.extension;
    return alias;
}

} // namespace

bool isValidShortName(const QString& name)
{
    if (name.isEmpty())
        return false;
    const qsizetype dot = name.indexOf(u'.');
    const QStringView base = dot < 0 ? QStringView(name) : QStringView(name).left(dot);
    const QStringView ext = dot < 0 ? QStringView() : QStringView(name).mid(dot + 1);
    if (base.isEmpty() || base.size() > kBasisLength || ext.size() > kExtensionLength)
        return false;
    if (dot >= 0 && ext.isEmpty())
        return false; // "NAME." is no 8.3 name
    for (QChar c : base) {
        if (!isShortNameChar(c.unicode()))
            return false;
    }
    for (QChar c : ext) {
        if (!isShortNameChar(c.unicode()))
            return false;
    }
    return true;
}

QStringList shortNamesFor(const QStringList& names)
{
    // The pane's order decides who gets "~1": sort indexes, not the names.
    QStringList sorted = names;
    sortNames(sorted);
    std::vector<qsizetype> order;
    order.reserve(size_t(names.size()));
    {
        QHash<QString, QList<qsizetype>> where;
        for (qsizetype i = 0; i < names.size(); ++i)
            where[names.at(i)].append(i);
        for (const QString& name : sorted)
            order.push_back(where[name].takeFirst());
    }

    QStringList aliases(names.size());
    QSet<QString> taken;
    std::vector<bool> done(size_t(names.size()), false);
    // Valid 8.3 names keep themselves and are reserved before any alias is
    // made. Two of them that differ only in letter case (possible here, never
    // on DOS) cannot both keep it: the first in pane order does.
    for (const qsizetype i : order) {
        const QString& name = names.at(i);
        if (!isValidShortName(name))
            continue;
        const QString upper = name.toUpper();
        if (taken.contains(upper))
            continue;
        taken.insert(upper);
        aliases[i] = upper;
        done[size_t(i)] = true;
    }
    // The aliases tried for a name depend only on the first six characters
    // of its basis and its extension, and a number once taken stays taken.
    // So each such pair remembers where its search left off: a folder of
    // 50,000 "Shortcut to ..." names costs a try or two per name, not a walk
    // past every alias made before it.
    QHash<QString, int> nextNumber;
    for (const qsizetype i : order) {
        if (done[size_t(i)])
            continue;
        const AliasParts parts = aliasParts(names.at(i));
        const QString key = parts.basis.left(kBasisLength - 2) + u'.' + parts.extension;
        int& number = nextNumber[key];
        if (number == 0)
            number = 1;
        QString alias;
        for (;; ++number) {
            alias = withTail(parts, number);
            if (!taken.contains(alias) || number == 9999999)
                break;
        }
        taken.insert(alias);
        aliases[i] = alias;
    }
    return aliases;
}

bool ShortNameTable::load(const QString& folder)
{
    m_names.clear();
    m_alias.clear();
    std::vector<DirEntry> entries;
    if (!listDirectory(folder.isEmpty() ? QStringLiteral(".") : folder, entries))
        return false;
    QStringList names;
    names.reserve(qsizetype(entries.size()));
    for (const DirEntry& entry : entries)
        names.append(entry.name);
    setNames(names);
    return true;
}

void ShortNameTable::setNames(const QStringList& names)
{
    m_names = names;
    m_alias.clear();
    const QStringList aliases = shortNamesFor(m_names);
    m_alias.reserve(m_names.size());
    for (qsizetype i = 0; i < m_names.size(); ++i)
        m_alias.insert(m_names.at(i), aliases.at(i));
}

QString ShortNameTable::shortName(const QString& name) const
{
    const auto exact = m_alias.constFind(name);
    if (exact != m_alias.constEnd())
        return exact.value();
    for (const QString& candidate : m_names) {
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            return m_alias.value(candidate);
    }
    return QString();
}

QString ShortPathOf(const QString& fullPath)
{
    const QString folder = parentPath(fullPath);
    ShortNameTable table;
    if (!table.load(folder))
        return QString();
    const QString alias = table.shortName(lastComponent(fullPath));
    if (alias.isEmpty())
        return QString();
    return folder.isEmpty() ? alias : joinPath(folder, alias);
}

} // namespace vexlo::platform
