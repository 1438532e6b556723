// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace vexlo::platform {

// Short (8.3) names as DOS and the short-name list layout know them. Linux
// file systems have no aliases, so we generate them by the rules Windows uses
// for its own: a name that already is a valid 8.3 name stays itself (upper
// case); any other name gets a basis of at most six characters, a numeric
// tail "~1", "~2", ... that keeps it unique in its folder, and the first three
// characters of its last extension. Spaces and leading dots are dropped;
// characters a short name cannot hold (anything outside printable ASCII, and
// " * + , / : ; < = > ? [ \ ] |) become "_". Tails are given in the order the
// archive pane sorts names, so the aliases of a folder never depend on the
// order the file system happens to return them in.

// True when the name is a valid 8.3 name as it stands (letter case aside).
bool isValidShortName(const QString& name);

// The aliases of all names of one folder, aligned with names. Every name of
// the folder (hidden files and sub-folders too) takes part, so pass them all.
QStringList shortNamesFor(const QStringList& names);

// The aliases of one folder, computed once for all its entries.
class ShortNameTable {
public:
    // Reads the folder. Returns false (and leaves the table empty) when it
    // cannot be read.
    bool load(const QString& folder);
    // The same for every name of a folder that was read already.
    void setNames(const QStringList& names);
    // The alias of an entry, looked up as written first, then without regard
    // to letter case (as the resolver finds files). Empty when the folder has
    // no such entry.
    QString shortName(const QString& name) const;

private:
    QStringList m_names; // folder order
    QHash<QString, QString> m_alias;
};

// The short form of a path: the path with its last component replaced by that
// entry's alias; the folder part is kept as given. Empty when the entry does
// not exist (the folder cannot be read or holds no such name).
QString ShortPathOf(const QString& fullPath);

} // namespace vexlo::platform
